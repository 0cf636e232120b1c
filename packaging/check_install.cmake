# Installs the build into an empty DESTDIR with the package's prefix and checks
# that the tree is what the package should hold and that its parts fit together.
#   cmake -DBUILD_DIR=... -DSTAGE=... -DEXPECTED=installed-files.txt [-DMAN=man] -P check_install.cmake

set(failures)
macro(fail message)
  list(APPEND failures "${message}")
endmacro()

file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

# Exactly the expected files, nothing written outside DESTDIR's prefix.
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
list(SORT installed)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " got "${installed}")
  string(REPLACE ";" "\n  " want "${expected}")
  fail("installed files differ from ${EXPECTED}\n got:\n  ${got}\n want:\n  ${want}")
endif()
set(usr ${STAGE}/usr)

# Each hicolor PNG is as large as its folder says (width and height from IHDR).
file(GLOB pngs ${usr}/share/icons/hicolor/*/apps/*.png)
foreach(png ${pngs})
  file(READ ${png} ihdr OFFSET 16 LIMIT 8 HEX)
  string(SUBSTRING "${ihdr}" 0 8 w)
  string(SUBSTRING "${ihdr}" 8 8 h)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  if(NOT png MATCHES "/${w}x${h}/apps/")
    fail("${png} is ${w}x${h}")
  endif()
endforeach()

# The desktop entry starts an installed program and names an installed icon.
file(STRINGS ${usr}/share/applications/korvo.desktop exec_line REGEX "^Exec=")
file(STRINGS ${usr}/share/applications/korvo.desktop icon_line REGEX "^Icon=")
string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec "${exec_line}")
string(REGEX REPLACE "^Icon=" "" icon "${icon_line}")
execute_process(COMMAND test -f ${usr}/bin/${exec} -a -x ${usr}/bin/${exec} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("Exec=${exec} is not an installed program")
endif()
file(GLOB icon_files ${usr}/share/icons/hicolor/*/apps/${icon}.png ${usr}/share/icons/hicolor/scalable/apps/${icon}.svg)
if(NOT icon_files)
  fail("Icon=${icon} is not in the hicolor theme")
endif()

# The AppStream data launches the installed desktop entry.
file(GLOB metainfo ${usr}/share/metainfo/*.metainfo.xml)
foreach(m ${metainfo})
  file(READ ${m} xml)
  string(REGEX MATCH "<launchable type=\"desktop-id\">([^<]+)</launchable>" launchable "${xml}")
  if(NOT EXISTS ${usr}/share/applications/${CMAKE_MATCH_1})
    fail("${m} launches '${CMAKE_MATCH_1}', which is not installed")
  endif()
endforeach()

# Every program has its man page, and man reads each page without a warning
# (what lintian checks).
file(GLOB programs RELATIVE ${usr}/bin ${usr}/bin/*)
foreach(program ${programs})
  set(page ${usr}/share/man/man1/${program}.1.gz)
  if(NOT EXISTS ${page})
    fail("${program} has no man page")
  elseif(MAN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                            ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${page}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE warnings)
    if(NOT rc EQUAL 0 OR warnings)
      fail("man ${program}: ${rc} ${warnings}")
    endif()
  endif()
endforeach()

# The installed korvo-cli starts on its own, without a display.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY ${usr}/bin/korvo-cli --help
                RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_VARIABLE help_errors)
if(NOT rc EQUAL 0 OR NOT help MATCHES "korvo-cli\\(1\\)")
  fail("korvo-cli --help: ${rc} ${help_errors}")
endif()

if(failures)
  string(REPLACE ";" "\n" text "${failures}")
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "install tree: ${STAGE}")
