# Turns RTF documents into C++ tables of lines (run with cmake -P).
#   -DOUTPUT=<file.cpp>  -DDOCUMENTS=<name>=<file.rtf>,<name>=<file.rtf>,...
#   -DMAX_LINE=<bytes>   (default 344)
# Every line keeps its newline, so joining the lines gives the file back byte for
# byte; a null pointer ends each table. A line longer than MAX_LINE fails the build.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED OUTPUT OR NOT DEFINED DOCUMENTS)
  message(FATAL_ERROR "rtf_line_table: OUTPUT and DOCUMENTS are required")
endif()
if(NOT DEFINED MAX_LINE)
  set(MAX_LINE 344)
endif()

string(REPLACE "," ";" documents "${DOCUMENTS}")
set(code "// Generated from the disclaimer documents by res/rtf_line_table.cmake; do not edit.\n")
string(APPEND code "#include \"disclaimer_documents.h\"\n\nnamespace {\n")
set(tables "")

foreach(doc IN LISTS documents)
  if(NOT doc MATCHES "^([A-Za-z_][A-Za-z0-9_]*)=(.+)$")
    message(FATAL_ERROR "rtf_line_table: bad document entry '${doc}'")
  endif()
  set(name "${CMAKE_MATCH_1}")
  set(file "${CMAKE_MATCH_2}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "rtf_line_table: ${file} does not exist")
  endif()
  file(READ "${file}" hex HEX)
  string(TOLOWER "${hex}" hex)
  if(hex STREQUAL "")
    message(FATAL_ERROR "rtf_line_table: ${file} is empty")
  endif()
  # Every byte becomes the escape \xhh (4 characters), so that any byte, high
  # ones included, goes into a string literal; a newline ends a line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" bytes "${hex}")
  string(REPLACE "\\x0a" "\\x0a;" lines "${bytes}")
  if(bytes MATCHES "\\\\x00")
    message(FATAL_ERROR "rtf_line_table: ${file} holds a zero byte, which would end its line early")
  endif()
  set(index 0)
  set(pointers "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      continue()
    endif()
    string(LENGTH "${line}" chars)
    math(EXPR length "${chars} / 4")
    math(EXPR lineno "${index} + 1")
    if(length GREATER MAX_LINE)
      message(FATAL_ERROR "rtf_line_table: ${file}:${lineno} is ${length} bytes long; "
                          "no line may be longer than ${MAX_LINE} bytes")
    endif()
    string(APPEND code "const char ${name}_${index}[] = \"${line}\";\n")
    string(APPEND pointers "    ${name}_${index},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  string(APPEND tables "extern const char* const ${name}[] = {\n${pointers}    nullptr,\n};\n\n")
endforeach()

string(APPEND code "\n} // namespace\n\n${tables}")

file(WRITE "${OUTPUT}" "${code}")
