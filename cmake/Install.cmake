# What `cmake --install` puts where, and the Debian package built from it
# with `cpack -G DEB`.
install(TARGETS vorla vorlash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/org.vorla.Vorla.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/org.vorla.Vorla.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/vorla.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages and the changelog go compressed, reproducibly (no name or
# time stamp in the gzip header), as Debian packages carry them.
set(VORLA_GZ_DIR ${CMAKE_BINARY_DIR}/gz)
function(vorla_gzip source output)
  add_custom_command(OUTPUT ${VORLA_GZ_DIR}/${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VORLA_GZ_DIR}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${source} ${VORLA_GZ_DIR}/${output}
    DEPENDS ${source} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY VORLA_GZ_FILES ${VORLA_GZ_DIR}/${output})
endfunction()
vorla_gzip(${CMAKE_SOURCE_DIR}/docs/man/vorla.1 vorla.1.gz)
vorla_gzip(${CMAKE_SOURCE_DIR}/docs/man/vorlash.1 vorlash.1.gz)
vorla_gzip(${CMAKE_SOURCE_DIR}/data/changelog changelog.gz)
get_property(gz_files GLOBAL PROPERTY VORLA_GZ_FILES)
add_custom_target(vorla_gz ALL DEPENDS ${gz_files})

install(FILES ${VORLA_GZ_DIR}/vorla.1.gz ${VORLA_GZ_DIR}/vorlash.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VORLA_GZ_DIR}/changelog.gz data/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME vorla)
set(CPACK_PACKAGE_VENDOR "VORLA maintainers")
set(CPACK_PACKAGE_CONTACT "VORLA maintainers <maintainers@users.noreply.c-seed-d47cb380.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-port terminal with a Tcl console")
set(CPACK_PACKAGE_DESCRIPTION "VORLA is a desktop terminal for engineers who talk to devices over serial
lines. The upper pane shows what the device sends and sends what you type
or paste; the lower pane is a Tcl 8.6 interpreter whose commands send
strings out of the port, read the answer and drive the control lines.
vorlash runs the same interpreter and commands without a window, for
scripts, test benches and CI.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
