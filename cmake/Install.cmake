# Installation layout and the Debian package.
#
#   bin/quorvel
#   share/quorvel/web/                 the local service, without its tests
#   share/quorvel/icons/               the status icon, for a prefix outside XDG_DATA_DIRS
#   share/applications/io.quorvel.Desktop.desktop
#   share/metainfo/io.quorvel.Desktop.metainfo.xml
#   share/icons/hicolor/scalable/apps/io.quorvel.Desktop.svg
#   share/icons/hicolor/{16x16,22x22,24x24,32x32}/status/quorvel-status-symbolic.svg
#   share/man/man1/quorvel.1.gz
#   share/doc/quorvel/copyright, changelog.gz
include(GNUInstallDirs)

# The executable finds its resources in <exe dir>/../share/quorvel: any other
# layout would install a program that cannot start its service.
file(RELATIVE_PATH quorvel_bin_to_data ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR})
if(NOT quorvel_bin_to_data STREQUAL "../share")
    message(FATAL_ERROR "The installed executable looks for its resources in ../share/quorvel; "
                        "CMAKE_INSTALL_BINDIR (${CMAKE_INSTALL_BINDIR}) and CMAKE_INSTALL_DATADIR "
                        "(${CMAKE_INSTALL_DATADIR}) must keep that layout")
endif()

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QUORVEL_INSTALL_RESOURCEDIR ${CMAKE_INSTALL_DATADIR}/quorvel)

install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES web/server.js web/README.md DESTINATION ${QUORVEL_INSTALL_RESOURCEDIR}/web)
install(DIRECTORY web/lib web/public DESTINATION ${QUORVEL_INSTALL_RESOURCEDIR}/web)
install(DIRECTORY data/icons/status/ DESTINATION ${QUORVEL_INSTALL_RESOURCEDIR}/icons)

install(FILES data/io.quorvel.Desktop.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/io.quorvel.Desktop.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/icons/io.quorvel.Desktop.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# In the desktop's icon theme, the status item names its icon alone, and each
# panel draws it in its own colours.
install(DIRECTORY data/icons/status/hicolor/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# The manual page and the package's changelog, compressed as Debian wants
# them (gzip -9n: no name, no time stamp, so that builds are reproducible).
set(quorvel_compressed)
foreach(pair IN ITEMS "data/quorvel.1|quorvel.1.gz" "data/debian/changelog|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/${target}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
        COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${PROJECT_BINARY_DIR}/doc/${target}
        DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND quorvel_compressed ${PROJECT_BINARY_DIR}/doc/${target})
endforeach()
add_custom_target(quorvel_docs ALL DEPENDS ${quorvel_compressed})
install(FILES ${PROJECT_BINARY_DIR}/doc/quorvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/debian/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack (or the "package" target) builds build/<preset>/quorvel_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvel developers")
set(CPACK_PACKAGE_CONTACT "Quorvel developers <dev@quorvel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop shell for the Quorvel stock watchlist")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Quorvel shows a watchlist of A-share and Hong Kong stocks (quotes, alert"
       "rules and triggered alerts) in its own window, with a status icon, menus"
       "and desktop notifications for triggered alerts. Depending on how it was"
       "built, it talks to the cloud service or starts a bundled local service,"
       "which runs on Node.js.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers <dev@quorvel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the executable links against, as dpkg-shlibdeps computes them
# from the binary; librsvg2-common loads the SVG icons. The web engine runs
# its web processes in bubblewrap, with xdg-dbus-proxy filtering their bus.
# The local build cannot start its service without Node.js; a cloud build
# only recommends it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(QUORVEL_USE_CLOUD_BACKEND)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "bubblewrap, librsvg2-common, xdg-dbus-proxy")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS nodejs)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "bubblewrap, librsvg2-common, nodejs (>= 18), xdg-dbus-proxy")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
