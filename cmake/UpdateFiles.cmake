# The update's file table for CMake, read from the one list of it,
# update/update_files.def:
#   MORIVANE_UPDATE_IDS          the payload ids in the order of the run
#   MORIVANE_UPDATE_FILE_<id>    that row's file relative to the installation
#                                directory, with "/" (the executable's row
#                                names MORIVANE_DEMO_EXECUTABLE, the demo
#                                product's Morivane.exe)
set(MORIVANE_DEMO_EXECUTABLE Morivane.exe)
file(STRINGS ${PROJECT_SOURCE_DIR}/update/update_files.def _update_rows
     REGEX "^MORIVANE_UPDATE_FILE\\(")
set(MORIVANE_UPDATE_IDS)
foreach(_row IN LISTS _update_rows)
    if(NOT _row MATCHES "^MORIVANE_UPDATE_FILE\\(([0-9]+), *(nullptr|\"(.*)\")\\)$")
        message(FATAL_ERROR "update_files.def: cannot read the row '${_row}'")
    endif()
    set(_id ${CMAKE_MATCH_1})
    if(CMAKE_MATCH_2 STREQUAL "nullptr")
        set(_file ${MORIVANE_DEMO_EXECUTABLE})
    else()
        string(REPLACE "\\\\" "/" _file "${CMAKE_MATCH_3}")
    endif()
    list(APPEND MORIVANE_UPDATE_IDS ${_id})
    set(MORIVANE_UPDATE_FILE_${_id} ${_file})
endforeach()
list(LENGTH MORIVANE_UPDATE_IDS _count)
if(NOT _count EQUAL 5)
    message(FATAL_ERROR "update_files.def: ${_count} rows read, five expected")
endif()
