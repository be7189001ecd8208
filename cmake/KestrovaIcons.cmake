# The program's icon in every size, rendered from app/kestrova.svg at build time.
# Sets KESTROVA_ICON_SIZES, KESTROVA_ICON_DIR (kestrova-<size>.png there),
# KESTROVA_ICON_QRC (the compiled resource :/icons/kestrova-<size>.png, a
# source of the program, which depends on the target kestrova_icons) and, for
# Windows, KESTROVA_ICO (kestrova.ico, made by the target kestrova_ico).
set(KESTROVA_ICON_SIZES 16 24 32 48 64 128 256)
set(KESTROVA_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(_svg ${CMAKE_SOURCE_DIR}/app/kestrova.svg)

find_program(KESTROVA_RSVG_CONVERT rsvg-convert)
if(NOT KESTROVA_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert (Debian package librsvg2-bin) is needed to render the icons")
endif()

set(_pngs "")
set(_qrc "<RCC>\n  <qresource prefix=\"/icons\">\n")
foreach(_size IN LISTS KESTROVA_ICON_SIZES)
    set(_png ${KESTROVA_ICON_DIR}/kestrova-${_size}.png)
    add_custom_command(OUTPUT ${_png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTROVA_ICON_DIR}
        COMMAND ${KESTROVA_RSVG_CONVERT} -w ${_size} -h ${_size} -o ${_png} ${_svg}
        DEPENDS ${_svg} VERBATIM)
    list(APPEND _pngs ${_png})
    string(APPEND _qrc "    <file alias=\"kestrova-${_size}.png\">${_png}</file>\n")
endforeach()
string(APPEND _qrc "  </qresource>\n</RCC>\n")
# Rewritten only when it changes, so that a new configure compiles nothing.
file(WRITE ${KESTROVA_ICON_DIR}/icons.qrc.new "${_qrc}")
configure_file(${KESTROVA_ICON_DIR}/icons.qrc.new ${KESTROVA_ICON_DIR}/icons.qrc COPYONLY)
qt5_add_resources(KESTROVA_ICON_QRC ${KESTROVA_ICON_DIR}/icons.qrc)
# One target renders them; what uses them depends on it, so that no two
# targets run the same commands at once.
add_custom_target(kestrova_icons ALL DEPENDS ${_pngs})

if(WIN32)
    find_program(KESTROVA_ICOTOOL icotool)
    if(NOT KESTROVA_ICOTOOL)
        message(FATAL_ERROR "icotool (Debian package icoutils) is needed to make kestrova.ico")
    endif()
    set(KESTROVA_ICO ${KESTROVA_ICON_DIR}/kestrova.ico)
    # The 256 px image stays PNG inside the .ico, as Windows expects.
    list(FILTER _pngs EXCLUDE REGEX "-256\\.png$")
    add_custom_command(OUTPUT ${KESTROVA_ICO}
        COMMAND ${KESTROVA_ICOTOOL} -c -o ${KESTROVA_ICO} ${_pngs} -r ${KESTROVA_ICON_DIR}/kestrova-256.png
        DEPENDS ${_pngs} ${KESTROVA_ICON_DIR}/kestrova-256.png VERBATIM)
    add_custom_target(kestrova_ico ALL DEPENDS ${KESTROVA_ICO})
    add_dependencies(kestrova_ico kestrova_icons)
endif()
