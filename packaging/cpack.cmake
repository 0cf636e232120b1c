# `make package`: a Debian package of what `cmake --install` puts on a system.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvo)
set(CPACK_PACKAGE_VENDOR "The Korvo developers")
set(CPACK_PACKAGE_CONTACT "${KORVO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP/IP test terminal with hex panes")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvo exchanges raw bytes with network devices and services and shows them
as a hex dump. One window opens one session at a time: TCP client, TCP server
or UDP (unicast, broadcast, multicast), over IPv4 or IPv6. It has a send pane
and a receive pane of up to one megabyte each, paced sending with a progress
window, and a Telnet window. Captions come in English, Korean and Simplified
Chinese. korvo-cli runs the same sessions from scripts, without a display:
it sends bytes and saved messages, checks what the peer answers, stands in
for a device by the window's reply rules, and tells the outcome by its exit
status.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Libraries come from the binary; fonts are loaded by name at run time:
# Liberation for the Latin faces, a Korean and a Chinese face for the captions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-liberation2, fonts-nanum-coding | fonts-noto-cjk, fonts-wqy-zenhei | fonts-noto-cjk")

include(CPack)
