# Installation and the Debian package, in one place.
#
# /usr/bin/somorabox, the core library and the window module in the
# package's library folder (SOMORA_LIBRARY_SUBDIR: the executable's RPATH and
# its search for the window module look there), the desktop entry with the
# icon drawn by the skin generator, the systemd user unit of the headless
# recorder, and the man page. scripts/package.sh builds the package.

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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME somorabox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "always-on recorder for a venue's sound system")
set(CPACK_PACKAGE_DESCRIPTION
    "Listens to the line input from start-up to exit and records a take into a WAV file whenever the sound rises above the quiet before it; shows the takes in a small skinned window, records without a window as a systemd user service, and splits long recordings into takes (--replay).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Somorabox maintainers <somorabox@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends comes from the shared libraries, through dpkg-shlibdeps; the core
# library is the package's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# The window's Chinese captions need a font that has them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-zenhei")
set(CPACK_STRIP_FILES ON)
include(CPack)
