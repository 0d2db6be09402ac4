# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DTABLE=<palettes.txt> -DTHEME=<id> -DTEMPLATE=<theme.qss.in> -DOUTPUT=<id.qss>
#     -P GenerateThemeSheet.cmake
# Fills the style-sheet template with one row of the palette table. The template names colours as
# @ACCENT@, @SELECTION@, @WINDOW@, @BASE@, @RAISED@, @TEXT@, @DISABLED@, @ON_ACCENT@, their decimal
# triplets as @<NAME>_RGB@ (for rgba()), and the theme as @THEME@ (for its image folders).
cmake_minimum_required(VERSION 3.18)
include("${CMAKE_CURRENT_LIST_DIR}/ThemePalette.cmake")

umx_theme_palette("${TABLE}" "${THEME}")
set(DISABLED "${UMX_THEME_DISABLED_COLOR}")
umx_on_colour("${ACCENT}" ON_ACCENT)
foreach(name ACCENT SELECTION WINDOW BASE RAISED TEXT DISABLED)
    umx_rgb_triplet("${${name}}" ${name}_RGB)
endforeach()

configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY NEWLINE_STYLE UNIX)

file(READ "${OUTPUT}" sheet)
string(REGEX MATCH "@[A-Za-z_]+@" unknown "${sheet}")
if(unknown)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "${TEMPLATE}: unknown placeholder ${unknown}")
endif()
