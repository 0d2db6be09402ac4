# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DOUTPUT=<file.qrc> -DTABLE=<palettes.txt> -DIMAGE_TEMPLATE_DIR=<dir> -DFONT_DIR=<dir>
#     -DFONTS=<a.ttf,b.ttf> -DICONS=<icons/x.png,...> -P GenerateQrc.cmake
# Writes the resource collection under the root prefix: the fonts from the source tree, and from
# the build tree (next to the .qrc) the icons, one style sheet per palette row and the theme image
# folders, so a new row in the table brings its files into ":/" without touching this list.
cmake_minimum_required(VERSION 3.18)
include("${CMAKE_CURRENT_LIST_DIR}/ThemePalette.cmake")

set(body "")
macro(add_entry alias path)
    string(APPEND body "        <file alias=\"${alias}\">${path}</file>\n")
endmacro()

string(REPLACE "," ";" fonts "${FONTS}")
foreach(font IN LISTS fonts)
    add_entry("fonts/${font}" "${FONT_DIR}/${font}")
endforeach()

string(REPLACE "," ";" icons "${ICONS}")
foreach(icon IN LISTS icons)
    add_entry("${icon}" "${icon}")
endforeach()

file(GLOB image_templates RELATIVE "${IMAGE_TEMPLATE_DIR}" "${IMAGE_TEMPLATE_DIR}/*.svg")
list(SORT image_templates)
umx_theme_ids("${TABLE}" themes)
set(image_folders)
foreach(theme IN LISTS themes)
    add_entry("themes/${theme}.qss" "themes/${theme}.qss")
    list(APPEND image_folders "${theme}/active" "${theme}/primary")
endforeach()
list(APPEND image_folders disabled)
foreach(folder IN LISTS image_folders)
    foreach(image IN LISTS image_templates)
        add_entry("icons/theme/${folder}/${image}" "icons/theme/${folder}/${image}")
    endforeach()
endforeach()

file(WRITE "${OUTPUT}" "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n    <qresource prefix=\"/\">\n${body}    </qresource>\n</RCC>\n")
