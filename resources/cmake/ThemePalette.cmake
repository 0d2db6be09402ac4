# SPDX-License-Identifier: GPL-3.0-or-later
# Reading the theme palette table (themes/palettes.txt), shared by the configure step and the
# generator scripts so both see the same rows.

# Grey of the shared icons/theme/disabled images and of disabled text in every theme.
set(UMX_THEME_DISABLED_COLOR "#9e9e9e")

set(UMX_THEME_COLUMNS accent selection window base raised text)

# umx_theme_ids(<table> <out-var>): the theme identifiers in table order.
function(umx_theme_ids table out)
    file(STRINGS "${table}" lines REGEX "^[ \t]*[A-Za-z0-9_]")
    set(ids)
    foreach(line IN LISTS lines)
        string(REGEX MATCH "^[ \t]*([A-Za-z0-9_]+)" _ "${line}")
        list(APPEND ids "${CMAKE_MATCH_1}")
    endforeach()
    set(${out} "${ids}" PARENT_SCOPE)
endfunction()

# umx_theme_palette(<table> <theme>): sets ACCENT, SELECTION, WINDOW, BASE, RAISED and TEXT in the
# caller's scope to the row of <theme>; a missing theme or a malformed row is a fatal error.
function(umx_theme_palette table theme)
    file(STRINGS "${table}" lines REGEX "^[ \t]*${theme}[ \t]")
    list(LENGTH lines found)
    if(NOT found EQUAL 1)
        message(FATAL_ERROR "${table}: expected one row for theme '${theme}', found ${found}")
    endif()
    string(STRIP "${lines}" row)
    string(REGEX REPLACE "[ \t]+" ";" row "${row}")
    list(POP_FRONT row)
    list(LENGTH UMX_THEME_COLUMNS wanted)
    list(LENGTH row have)
    if(NOT have EQUAL wanted)
        message(FATAL_ERROR "${table}: theme '${theme}' has ${have} colours, expected ${wanted}")
    endif()
    foreach(column colour IN ZIP_LISTS UMX_THEME_COLUMNS row)
        if(NOT colour MATCHES "^#[0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F]$")
            message(FATAL_ERROR "${table}: theme '${theme}': '${colour}' is not a #rrggbb colour")
        endif()
        string(TOUPPER "${column}" name)
        string(TOLOWER "${colour}" colour)
        set(${name} "${colour}" PARENT_SCOPE)
    endforeach()
endfunction()

# umx_rgb_triplet(<#rrggbb> <out-var>): "r, g, b" in decimal, for rgba() in style sheets.
function(umx_rgb_triplet colour out)
    set(parts)
    foreach(offset 1 3 5)
        string(SUBSTRING "${colour}" ${offset} 2 hex)
        math(EXPR value "0x${hex}")
        list(APPEND parts ${value})
    endforeach()
    list(JOIN parts ", " triplet)
    set(${out} "${triplet}" PARENT_SCOPE)
endfunction()

# umx_on_colour(<#rrggbb> <out-var>): black or white, whichever reads better on the colour.
function(umx_on_colour colour out)
    umx_rgb_triplet("${colour}" rgb)
    string(REPLACE ", " ";" rgb "${rgb}")
    list(GET rgb 0 r)
    list(GET rgb 1 g)
    list(GET rgb 2 b)
    math(EXPR luma "(299 * ${r} + 587 * ${g} + 114 * ${b}) / 1000")
    if(luma GREATER 150)
        set(${out} "#000000" PARENT_SCOPE)
    else()
        set(${out} "#ffffff" PARENT_SCOPE)
    endif()
endfunction()
