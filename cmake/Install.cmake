# SPDX-License-Identifier: GPL-3.0-or-later
# Installation and the Debian package, in one place.
#
# /usr/bin/somorabox, the core library and the window module in the
# package's library folder (SOMORA_LIBRARY_SUBDIR: the executable's RPATH and
# its search for the window module look there), the desktop entry with the
# icon drawn by the skin generator, the AppStream metainfo, the systemd user
# unit of the headless recorder, the man page, the manual (README.md as
# HTML), and the copyright file and
# changelog Debian asks of every package. scripts/package.sh builds the
# package; lintian and appstreamcli check it (tests/scripts/test_package.sh).

set(SOMORA_INSTALLED_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/somorabox)

install(TARGETS Somorabox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Installed programs are named in lower case.
install(CODE "file(RENAME \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}/Somorabox\"
                          \"\$ENV{DESTDIR}${SOMORA_INSTALLED_PROGRAM}\")")
install(TARGETS somorabox_core somorabox_window LIBRARY DESTINATION ${SOMORA_LIBRARY_SUBDIR})

install(FILES ${CMAKE_SOURCE_DIR}/deploy/package/somorabox.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${SOMORA_PICTURE_DIR_FOR_INSTALL}/somorabox-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME somorabox.png)
install(FILES ${SOMORA_PICTURE_DIR_FOR_INSTALL}/somorabox-256.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME somorabox.png)

install(FILES ${CMAKE_SOURCE_DIR}/deploy/package/example.somorabox.Somorabox.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

configure_file(${CMAKE_SOURCE_DIR}/deploy/package/somorabox.service.in
               ${CMAKE_BINARY_DIR}/package/somorabox.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/somorabox.service DESTINATION lib/systemd/user)

# The man page, compressed as Debian keeps them.
set(SOMORA_MAN_PAGE ${CMAKE_BINARY_DIR}/package/somorabox.1.gz)
add_custom_command(
  OUTPUT ${SOMORA_MAN_PAGE}
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/somorabox.1 > ${SOMORA_MAN_PAGE}
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/somorabox.1
  COMMENT "Compressing the man page")
add_custom_target(somora_man_page ALL DEPENDS ${SOMORA_MAN_PAGE})
install(FILES ${SOMORA_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The manual the help command opens: the README as one HTML page, beside
# the executable in the build and in the package's documentation folder.
find_program(SOMORA_CMARK cmark-gfm REQUIRED)
set(SOMORA_MANUAL ${CMAKE_BINARY_DIR}/manual.html)
add_custom_command(
  OUTPUT ${SOMORA_MANUAL}
  COMMAND ${CMAKE_COMMAND} -DCMARK=${SOMORA_CMARK} -DINPUT=${CMAKE_SOURCE_DIR}/README.md
          -DOUTPUT=${SOMORA_MANUAL} -P ${CMAKE_SOURCE_DIR}/cmake/Manual.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/Manual.cmake
  COMMENT "Making the manual from README.md")
add_custom_target(somora_manual ALL DEPENDS ${SOMORA_MANUAL})
install(FILES ${SOMORA_MANUAL} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/somorabox)

# The package's copyright file and its changelog (compressed, as the man page).
set(SOMORA_CHANGELOG ${CMAKE_BINARY_DIR}/package/changelog.gz)
add_custom_command(
  OUTPUT ${SOMORA_CHANGELOG}
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/deploy/package/changelog > ${SOMORA_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/deploy/package/changelog
  COMMENT "Compressing the changelog")
add_custom_target(somora_changelog ALL DEPENDS ${SOMORA_CHANGELOG})
install(FILES ${CMAKE_SOURCE_DIR}/deploy/package/copyright ${SOMORA_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/somorabox)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME somorabox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "always-on recorder for a venue's sound system")
# The long description: lines of at most 80 characters, as dpkg shows them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Somorabox listens to the line input of a venue's sound system from start-up"
  "to exit and records a take into a WAV file whenever the sound rises above"
  "the quiet before it."
  ""
  "It shows the takes in a small skinned window (in English or Chinese, after"
  "the desktop's language), records without a window as a systemd user"
  "service, serves the takes as a web page, and splits long recordings into"
  "takes (--replay).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Somorabox developers <developers@somorabox.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends comes from the shared libraries, through dpkg-shlibdeps; the core
# library is the package's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# The recorder listens through ALSA's default device, which reaches the
# desktop's sound server through one of these; the window's Chinese captions
# need a font that has them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins | pipewire-alsa, fonts-wqy-zenhei")
# The package's files and folders with the modes Debian expects.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
