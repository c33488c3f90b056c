# Copies the update payloads <id>.sabunn from SOURCE_DIR into STAGE_DIR for
# the resource compiler, leaving unchanged copies alone so that the resources
# are rebuilt only when a payload changes. Fails with directions when one is
# missing.
#   cmake -DSOURCE_DIR=... -DSTAGE_DIR=... -DIDS=130,137,... -P stage_payloads.cmake
string(REPLACE "," ";" ids "${IDS}")
set(missing)
foreach(id ${ids})
    if(NOT EXISTS "${SOURCE_DIR}/${id}.sabunn")
        list(APPEND missing "${id}.sabunn")
    endif()
endforeach()
if(missing)
    list(JOIN missing ", " missing_text)
    message(FATAL_ERROR
        "The update payloads are missing from ${SOURCE_DIR}: ${missing_text}.\n"
        "Make the demo product's payloads with the native build first:\n"
        "  cmake --preset native && cmake --build --preset native\n"
        "or point the Win32 build at a directory of <id>.sabunn files:\n"
        "  cmake --preset win32 -DMORIVANE_PAYLOAD_DIR=/path/to/payloads")
endif()
file(MAKE_DIRECTORY "${STAGE_DIR}")
foreach(id ${ids})
    file(COPY_FILE "${SOURCE_DIR}/${id}.sabunn" "${STAGE_DIR}/${id}.sabunn" ONLY_IF_DIFFERENT)
endforeach()
