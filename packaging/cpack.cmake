# The Debian package (`make package`: cpack -G DEB in the Release build folder).
# It holds what `cmake --install` installs; dependencies come from dpkg-shlibdeps,
# plus the toolkit's plugins that no library names.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvalis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CORVALIS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for offline map tile stores")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Corvalis shows the maps kept in offline tile stores: single files that\n\
hold pre-rendered map tiles. It opens MBTiles files, SQLite tile stores\n\
(x/y/z and .sqlitedb), Orux maps with their .omm file, GeoPackage tile\n\
tables and PMTiles archives read-only, with panning, stepwise zoom, an\n\
overview of the whole store and the coordinates under the pointer.\n\
From the command line it reports on a store, checks its tables and tiles\n\
and runs its built-in checks.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Tiles in WebP, TIFF and other formats are read through Qt's image plugins.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, qt6-wayland")
set(CPACK_STRIP_FILES ON)
# Files are staged under DESTDIR, so that the install step leaves the desktop's
# caches alone (dpkg triggers of the packages owning them refresh them).
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Files and folders are owned by root with the usual modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
