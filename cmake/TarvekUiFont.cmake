# The controls' font, Liberation Sans 2, on the building machine: the demo's
# frames are drawn in it, and a build that embeds it (TARVEK_EMBED_UI_FONT,
# always on Windows) takes it from here. It is found through fontconfig as the
# font package registers it, wherever that package puts it: Debian 12's
# fonts-liberation2 and Debian 13's fonts-liberation install the same 2.1 fonts
# in different folders, and Debian 12's fonts-liberation is the older 1.07,
# whose metrics differ.
#   TARVEK_UI_FONT          the TrueType file
#   TARVEK_UI_FONT_LICENSE  its licence, shipped beside the Windows program
#   TARVEK_UI_FONT_PACKAGE  the Debian package it came from, if one did
# Each can be set by hand; empty, it is found.
set(TARVEK_UI_FONT "" CACHE FILEPATH "Liberation Sans 2 Regular, TrueType; empty: found through fontconfig")
set(TARVEK_UI_FONT_LICENSE "" CACHE FILEPATH "The licence of TARVEK_UI_FONT; empty: its Debian package's copyright")

include(${CMAKE_CURRENT_LIST_DIR}/TarvekPickUiFont.cmake)

if(NOT TARVEK_UI_FONT)
    find_program(TARVEK_FC_LIST fc-list)
    if(NOT TARVEK_FC_LIST)
        message(FATAL_ERROR "fc-list not found: install fontconfig, or set TARVEK_UI_FONT")
    endif()
    execute_process(COMMAND "${TARVEK_FC_LIST}" --format "%{fontversion}\\t%{file}\\n"
                            "Liberation Sans:style=Regular:fontformat=TrueType"
                    OUTPUT_VARIABLE _tarvek_fonts RESULT_VARIABLE _tarvek_result)
    if(NOT _tarvek_result EQUAL 0)
        message(FATAL_ERROR "fc-list failed (${_tarvek_result}): set TARVEK_UI_FONT")
    endif()
    tarvek_pick_ui_font(_tarvek_best_file "${_tarvek_fonts}")
    if(NOT _tarvek_best_file)
        message(FATAL_ERROR "Liberation Sans 2 not found through fontconfig: install Debian's "
                            "fonts-liberation2 (Debian 12) or fonts-liberation (Debian 13 and later), "
                            "or set TARVEK_UI_FONT")
    endif()
    set(TARVEK_UI_FONT "${_tarvek_best_file}" CACHE FILEPATH
        "Liberation Sans 2 Regular, TrueType; empty: found through fontconfig" FORCE)
    message(STATUS "The controls' font: ${TARVEK_UI_FONT}")
elseif(NOT EXISTS "${TARVEK_UI_FONT}")
    message(FATAL_ERROR "Font ${TARVEK_UI_FONT} not found")
endif()

# The package that installed it, asked of dpkg by the file's real path.
set(TARVEK_UI_FONT_PACKAGE "")
find_program(TARVEK_DPKG_QUERY dpkg-query)
if(TARVEK_DPKG_QUERY)
    file(REAL_PATH "${TARVEK_UI_FONT}" _tarvek_real_font)
    foreach(_tarvek_path IN ITEMS "${TARVEK_UI_FONT}" "${_tarvek_real_font}")
        execute_process(COMMAND "${TARVEK_DPKG_QUERY}" -S "${_tarvek_path}"
                        OUTPUT_VARIABLE _tarvek_owner ERROR_QUIET RESULT_VARIABLE _tarvek_result)
        if(_tarvek_result EQUAL 0 AND _tarvek_owner MATCHES "^([^:, ]+)(:[^:, ]+)?: ")
            set(TARVEK_UI_FONT_PACKAGE ${CMAKE_MATCH_1})
            break()
        endif()
    endforeach()
endif()
if(NOT TARVEK_UI_FONT_LICENSE AND TARVEK_UI_FONT_PACKAGE)
    set(TARVEK_UI_FONT_LICENSE "/usr/share/doc/${TARVEK_UI_FONT_PACKAGE}/copyright")
endif()
