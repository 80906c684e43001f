# Which Liberation Sans the build embeds, from what fontconfig lists: each row
# a listing of fc-list's "REVISION<tab>FILE" lines and the file to be taken, or
# none. Revisions are 16.16 fixed point: 1.07 is 70123, 2.0 is 131072, 2.1 is
# 137625. Run as: cmake -DWORK=FOLDER -P ui_font_choice.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/TarvekPickUiFont.cmake)

if(NOT WORK)
    message(FATAL_ERROR "WORK, a folder for the rows' font files, is not set")
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
foreach(name IN ITEMS liberation-1.07.ttf liberation-2.0.ttf liberation-2.1.ttf)
    file(WRITE "${WORK}/${name}" "")
endforeach()

set(failed 0)
# row(NAME EXPECTED LINE...): EXPECTED is a file's name in WORK, or NONE.
function(row name expected)
    list(JOIN ARGN "\n" listing)
    string(REPLACE "@" "${WORK}/" listing "${listing}")
    tarvek_pick_ui_font(picked "${listing}")
    if(expected STREQUAL "NONE")
        set(want "")
    else()
        set(want "${WORK}/${expected}")
    endif()
    if(picked STREQUAL want)
        message(STATUS "PASS   : ${name}")
    else()
        message(STATUS "FAIL!  : ${name}: took '${picked}', not '${want}'")
        set(failed 1 PARENT_SCOPE)
    endif()
endfunction()

set(tab "\t")
row("only 1.07, Debian 12's fonts-liberation" NONE "70123${tab}@liberation-1.07.ttf")
row("just below 2.0" NONE "131071${tab}@liberation-1.07.ttf")
row("2.0 exactly" liberation-2.0.ttf "131072${tab}@liberation-2.0.ttf")
row("1.07 listed first, 2.1 beside it" liberation-2.1.ttf
    "70123${tab}@liberation-1.07.ttf" "137625${tab}@liberation-2.1.ttf")
row("2.1 listed first, 1.07 beside it" liberation-2.1.ttf
    "137625${tab}@liberation-2.1.ttf" "70123${tab}@liberation-1.07.ttf")
row("the newest of two 2.x" liberation-2.1.ttf
    "131072${tab}@liberation-2.0.ttf" "137625${tab}@liberation-2.1.ttf")
row("the newest of two 2.x, listed newest first" liberation-2.1.ttf
    "137625${tab}@liberation-2.1.ttf" "131072${tab}@liberation-2.0.ttf")
row("a listed 2.1 whose file is gone" liberation-2.0.ttf
    "137625${tab}@gone.ttf" "131072${tab}@liberation-2.0.ttf")
row("a line without a revision" NONE "${tab}@liberation-2.1.ttf")
row("nothing listed" NONE "")

file(REMOVE_RECURSE "${WORK}")
if(failed)
    message(FATAL_ERROR "the font's choice is wrong")
endif()
message(STATUS "Totals: all passed")
