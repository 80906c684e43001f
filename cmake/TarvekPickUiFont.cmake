# tarvek_pick_ui_font(OUT LISTING): of the fonts in LISTING, fc-list's lines
# "REVISION<tab>FILE" for Liberation Sans Regular, the file of the newest one
# of release 2.0 or later that exists; empty when there is none. Release 1.07,
# Debian 12's fonts-liberation, has other metrics and is never taken.
function(tarvek_pick_ui_font out listing)
    # 2.0 as fontconfig gives a font's revision: 16.16 fixed point.
    set(lowest 131072)
    set(best_version 0)
    set(best_file "")
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "^([0-9]+)\t(/.+)$")
            continue()
        endif()
        set(version ${CMAKE_MATCH_1})
        set(file ${CMAKE_MATCH_2})
        if(version GREATER_EQUAL lowest AND version GREATER best_version AND EXISTS "${file}")
            set(best_version ${version})
            set(best_file ${file})
        endif()
    endforeach()
    set(${out} "${best_file}" PARENT_SCOPE)
endfunction()
