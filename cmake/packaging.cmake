# What CPack packs: on Linux a Debian package (kolvan_<version>_<arch>.deb)
# with the programs, manual pages, systemd unit, copyright and changelog; on
# Windows a zip (kolvan-<version>-win64.zip) with kolvan.exe, README.txt and
# LICENSE.txt. Included at the end of the top-level CMakeLists.txt.

# The files below are made at configure time from these: a change to one of
# them configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md)

set(KOLVAN_MAINTAINER "the kolvan developers <kolvan@example.org>"
  CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME kolvan)
set(CPACK_PACKAGE_VENDOR "the kolvan developers")
set(CPACK_PACKAGE_CONTACT "${KOLVAN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-project-config.cmake)

if(WIN32)
  # Windows' editors and Notepad want CRLF line ends. README.txt is the
  # README's user part: without what is marked as being about the
  # repository (its scripts, building it).
  foreach(pair "README.md;README.txt" "LICENSE;LICENSE.txt")
    list(GET pair 0 source)
    list(GET pair 1 target)
    file(READ ${PROJECT_SOURCE_DIR}/${source} text)
    string(REGEX REPLACE "<!-- repository -->\n.*<!-- /repository -->\n" "" text "${text}")
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/${target} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/${target} DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kolvan-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
endif()

# /usr/share/doc/kolvan: the copyright in Debian's machine-readable format,
# with the licence's text from LICENSE, and the changelog made from
# CHANGELOG.md, compressed.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
list(FILTER license_lines EXCLUDE REGEX "^(MIT License|Copyright .*)$")
set(license_text "")
set(started OFF)
foreach(line IN LISTS license_lines)
  if(line STREQUAL "" AND NOT started)
    continue()
  endif()
  set(started ON)
  if(line STREQUAL "")
    string(APPEND license_text " .\n")
  else()
    string(APPEND license_text " ${line}\n")
  endif()
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/doc/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kolvan
Upstream-Contact: ${KOLVAN_MAINTAINER}

Files: *
Copyright: 2026 the kolvan developers
License: Expat

License: Expat
${license_text}")

include(${PROJECT_SOURCE_DIR}/cmake/debian-changelog.cmake)
kolvan_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_BINARY_DIR}/doc/changelog)
add_custom_command(OUTPUT doc/changelog.gz
  COMMAND gzip -9nc changelog > changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/doc
  VERBATIM)
add_custom_target(kolvan_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A stripped install (cpack, cmake --install --strip) also drops the
# .comment section, the compiler's name that GCC's start-up files bring, as
# Debian's own packages do.
if(CMAKE_OBJCOPY)
  install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program kolvan kolvan-monitor)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
        RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR \"objcopy failed on \${program}\")
      endif()
    endforeach()
  endif()
  ")
endif()

set(CPACK_GENERATOR DEB)
# Installed under DESTDIR with the real prefix, so that the unit names
# /usr/bin/kolvan and absolute destinations (/lib/systemd/system) land
# where they belong.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KOLVAN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Maintainer scripts: an upgrade restarts the running kolvan@ instances, a
# removal or purge stops them; none enables or starts anything.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/deb/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/prerm
  ${PROJECT_SOURCE_DIR}/cmake/deb/postrm)
# The static ARMv6 armhf build (cmake/armv6-linux-static.cmake): no library
# to depend on, lintian told that static is meant, and a preinst that stops
# the install on a CPU the programs can't run on.
if(KOLVAN_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/lintian-overrides-static
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kolvan)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/preinst-armhf ${PROJECT_BINARY_DIR}/deb/preinst
    COPYONLY)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/preinst)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kolvan keys a serial port's transmit line with the time code of a
long-wave time station (JJY, WWVB, DCF77 or MSF) for the host's own clock.
A radio-controlled clock next to a small transmitter keyed by that line sets
itself from the computer.
kolvan-monitor reads such a line back and decodes it. The systemd template
units kolvan@.service and kolvan-pwm@.service run kolvan on one serial port
or one PWM channel; they are not enabled on installation. An upgrade
restarts their running instances.")
if(KOLVAN_STATIC)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "
This build is linked statically for ARMv6 with VFP: it runs on every
Raspberry Pi from the Pi 1 and Zero on, and has no sound card output.")
endif()
include(CPack)
