# Installs the program with a desktop entry and MIME types for tile stores.
include(GNUInstallDirs)

install(TARGETS corvalis RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/corvalis.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/corvalis-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME corvalis.xml)

# Refresh the desktop's MIME and application caches when installing in place
# (packagers installing into DESTDIR run these from their own hooks).
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
  endif()
]])
