# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DTEMPLATE_DIR=<dir of *.svg> -DOUTPUT_DIR=<dir> -DCOLOR=<#rrggbb> -P GenerateThemeImages.cmake
# Writes every SVG template of TEMPLATE_DIR into OUTPUT_DIR with @COLOR@ replaced by the colour.
cmake_minimum_required(VERSION 3.18)
if(NOT COLOR MATCHES "^#[0-9a-fA-F]+$")
    message(FATAL_ERROR "GenerateThemeImages: COLOR '${COLOR}' is not a #rrggbb colour")
endif()
file(GLOB templates "${TEMPLATE_DIR}/*.svg")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
foreach(template IN LISTS templates)
    get_filename_component(name "${template}" NAME)
    file(READ "${template}" svg)
    if(NOT svg MATCHES "@COLOR@")
        message(FATAL_ERROR "${template}: no @COLOR@ placeholder, the image would not follow the theme")
    endif()
    string(REPLACE "@COLOR@" "${COLOR}" svg "${svg}")
    file(WRITE "${OUTPUT_DIR}/${name}" "${svg}")
endforeach()
