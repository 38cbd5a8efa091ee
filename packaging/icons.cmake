# Draws the PNG sizes of the icons from their SVG sources in resources/icons/
# (only the SVG sources are kept in the tree). Included from src/, so that the
# resources of corvalis_app and the install rules see the generated files.
#   CORVALIS_ICON_DIR       where the pictures are written (icons/NAME-SIZE.png below it)
#   CORVALIS_APP_ICON_SIZES the sizes of the application icon installed under hicolor
#   CORVALIS_RESOURCE_ICONS every picture, for the Qt resource (":/icons/NAME-SIZE.png")
find_program(RSVG_CONVERT rsvg-convert REQUIRED)

set(CORVALIS_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated-icons)
set(CORVALIS_APP_ICON_SIZES 16 22 24 32 48 64 128 256)
# Tool bar buttons: 16 to 32 pixels, and twice that on high-density screens.
set(CORVALIS_BUTTON_ICON_SIZES 16 22 24 32 48 64)

file(GLOB CORVALIS_ICON_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/icons/*.svg)
set(CORVALIS_RESOURCE_ICONS)
foreach(svg ${CORVALIS_ICON_SOURCES})
  get_filename_component(name ${svg} NAME_WE)
  if(name STREQUAL "corvalis")
    set(sizes ${CORVALIS_APP_ICON_SIZES})
  else()
    set(sizes ${CORVALIS_BUTTON_ICON_SIZES})
  endif()
  foreach(size ${sizes})
    set(png ${CORVALIS_ICON_DIR}/icons/${name}-${size}.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVALIS_ICON_DIR}/icons
      COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --format=png --output=${png} ${svg}
      DEPENDS ${svg}
      VERBATIM)
    list(APPEND CORVALIS_RESOURCE_ICONS ${png})
  endforeach()
endforeach()
