# Installs the program with its desktop entry, MIME types, icons, AppStream
# entry, manual page and package documents (the Debian package has what
# `cmake --install` installs). Included from src/ after packaging/icons.cmake.
include(GNUInstallDirs)

set(CORVALIS_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(CORVALIS_GENERATED_DOCS ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CORVALIS_PACKAGING_DIR}/corvalis.metainfo.xml.in
               ${CORVALIS_GENERATED_DOCS}/${CORVALIS_APP_ID}.metainfo.xml @ONLY)
configure_file(${CORVALIS_PACKAGING_DIR}/corvalis.1.in ${CORVALIS_GENERATED_DOCS}/corvalis.1 @ONLY)
configure_file(${CORVALIS_PACKAGING_DIR}/changelog.in ${CORVALIS_GENERATED_DOCS}/changelog @ONLY)
# Manual pages and changelogs are installed compressed, without a time stamp
# (the package is then the same for the same sources).
find_program(GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${CORVALIS_GENERATED_DOCS}/corvalis.1.gz ${CORVALIS_GENERATED_DOCS}/changelog.gz
  COMMAND ${GZIP} -9nkf ${CORVALIS_GENERATED_DOCS}/corvalis.1 ${CORVALIS_GENERATED_DOCS}/changelog
  DEPENDS ${CORVALIS_GENERATED_DOCS}/corvalis.1 ${CORVALIS_GENERATED_DOCS}/changelog
  VERBATIM)
add_custom_target(corvalis_docs ALL DEPENDS ${CORVALIS_GENERATED_DOCS}/corvalis.1.gz
                                            ${CORVALIS_GENERATED_DOCS}/changelog.gz)

install(TARGETS corvalis RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CORVALIS_PACKAGING_DIR}/corvalis.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications RENAME ${CORVALIS_APP_ID}.desktop)
install(FILES ${CORVALIS_PACKAGING_DIR}/corvalis-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME corvalis.xml)
install(FILES ${CORVALIS_GENERATED_DOCS}/${CORVALIS_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/corvalis.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${CORVALIS_APP_ICON_SIZES})
  install(FILES ${CORVALIS_ICON_DIR}/icons/corvalis-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME corvalis.png)
endforeach()
install(FILES ${CORVALIS_GENERATED_DOCS}/corvalis.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CORVALIS_PACKAGING_DIR}/copyright ${CORVALIS_GENERATED_DOCS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvalis)

# Refresh the desktop's MIME, application and icon caches when installing in
# place (the Debian package leaves them to the triggers of the packages that
# own the caches, and packagers installing into DESTDIR to their own hooks).
install(CODE [[
  if(NOT DEFINED ENV{DESTDIR} OR "$ENV{DESTDIR}" STREQUAL "")
    find_program(CORVALIS_UPDATE_MIME update-mime-database)
    if(CORVALIS_UPDATE_MIME)
      execute_process(COMMAND ${CORVALIS_UPDATE_MIME} "${CMAKE_INSTALL_PREFIX}/share/mime")
    endif()
    find_program(CORVALIS_UPDATE_DESKTOP update-desktop-database)
    if(CORVALIS_UPDATE_DESKTOP)
      execute_process(COMMAND ${CORVALIS_UPDATE_DESKTOP} -q "${CMAKE_INSTALL_PREFIX}/share/applications")
    endif()
    find_program(CORVALIS_UPDATE_ICONS gtk-update-icon-cache)
    if(CORVALIS_UPDATE_ICONS AND EXISTS "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/index.theme")
      execute_process(COMMAND ${CORVALIS_UPDATE_ICONS} -q -t "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor")
    endif()
  endif()
]])
