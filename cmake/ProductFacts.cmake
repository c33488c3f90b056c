# Reads the update's fixed facts from update/product_facts.cmake, checks
# them, and writes what the other languages read into ${MORIVANE_GENERATED_DIR}:
#   update/product_facts.h   the values as macros, named by update/product.h
#   product_facts.sh         bash: MORIVANE_UPDATE_FILES, MORIVANE_UPDATE_IDS, ...
#   product_facts.json       the same for Python
# Besides the variables of the facts file it sets
#   MORIVANE_EXECUTABLE_NAME       the first row's file, the executable
#   MORIVANE_SHIPPED_FORM_<id>     plain or packed
#   MORIVANE_PRODUCT_FACTS_SH, MORIVANE_PRODUCT_FACTS_JSON   the generated files
# and defines the interface library morivane_product_facts, which puts the
# generated header on the include path.
# A file is rewritten only when its content changes, so configuring again
# rebuilds nothing.
set(_facts_file ${PROJECT_SOURCE_DIR}/update/product_facts.cmake)
include(${_facts_file})
set(MORIVANE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(MORIVANE_PRODUCT_FACTS_SH ${MORIVANE_GENERATED_DIR}/product_facts.sh)
set(MORIVANE_PRODUCT_FACTS_JSON ${MORIVANE_GENERATED_DIR}/product_facts.json)

function(_morivane_facts_error)
    string(JOIN "" text ${ARGV})
    message(FATAL_ERROR "${_facts_file}: ${text}")
endfunction()

# Every text is printable ASCII without quotes, so that it can be written into
# C, shell and JSON text alike; only the registry key holds backslashes.
foreach(_name MORIVANE_PRODUCT_NAME MORIVANE_REGISTRY_KEY_PREFIX MORIVANE_UPDATABLE_VERSION
              MORIVANE_UPDATED_VERSION)
    if(NOT "${${_name}}" MATCHES "^[ !#-&(-~]+$")
        _morivane_facts_error("${_name} must be printable ASCII without quotes")
    endif()
endforeach()
if(MORIVANE_PRODUCT_NAME MATCHES [[\\]] OR MORIVANE_UPDATABLE_VERSION MATCHES [[\\]] OR
   MORIVANE_UPDATED_VERSION MATCHES [[\\]])
    _morivane_facts_error("only the registry key may hold a backslash")
endif()
if(NOT MORIVANE_REGISTRY_KEY_PREFIX MATCHES [[\\$]])
    _morivane_facts_error("MORIVANE_REGISTRY_KEY_PREFIX must end with a backslash")
endif()
if(MORIVANE_UPDATABLE_VERSION STREQUAL MORIVANE_UPDATED_VERSION)
    _morivane_facts_error("the two version texts must differ")
endif()
if(NOT MORIVANE_UPDATE_TIMESTAMP MATCHES "^[1-9][0-9]*$" OR
   NOT MORIVANE_SHIPPED_UNIT MATCHES "^[1-9][0-9]*$")
    _morivane_facts_error("the time stamp and the unit must be positive whole numbers")
endif()

list(LENGTH MORIVANE_UPDATE_IDS _count)
if(NOT _count EQUAL 5)
    _morivane_facts_error("${_count} files, five expected")
endif()
set(_seen_ids)
set(_seen_files)
foreach(_id IN LISTS MORIVANE_UPDATE_IDS)
    if(NOT _id MATCHES "^[1-9][0-9]*$" OR _id GREATER 65535 OR _id IN_LIST _seen_ids)
        _morivane_facts_error("payload id '${_id}' is not a resource id of its own (1 to 65535)")
    endif()
    list(APPEND _seen_ids ${_id})
    set(_file "${MORIVANE_UPDATE_FILE_${_id}}")
    # Plain relative names: no empty part, none that begins with a dot (so
    # no "." or ".."), no drive, no backslash.
    if(NOT _file MATCHES "^[A-Za-z0-9_-][A-Za-z0-9_.-]*(/[A-Za-z0-9_-][A-Za-z0-9_.-]*)*$")
        _morivane_facts_error("payload ${_id}: '${_file}' is not a relative file name")
    endif()
    string(TOLOWER "${_file}" _folded)
    if(_folded IN_LIST _seen_files)
        _morivane_facts_error("'${_file}' is named twice (names are compared without case)")
    endif()
    list(APPEND _seen_files "${_folded}")
    if(_id IN_LIST MORIVANE_SHIPPED_PLAIN_IDS)
        set(MORIVANE_SHIPPED_FORM_${_id} plain)
    else()
        set(MORIVANE_SHIPPED_FORM_${_id} packed)
    endif()
endforeach()
foreach(_id IN LISTS MORIVANE_SHIPPED_PLAIN_IDS)
    if(NOT _id IN_LIST MORIVANE_UPDATE_IDS)
        _morivane_facts_error("shipped plain: ${_id} is not a payload of the five files")
    endif()
endforeach()
list(GET MORIVANE_UPDATE_IDS 0 _exe_id)
set(MORIVANE_EXECUTABLE_NAME "${MORIVANE_UPDATE_FILE_${_exe_id}}")
string(LENGTH "${MORIVANE_EXECUTABLE_NAME}" _exe_length)
if(NOT _exe_length EQUAL 12 OR MORIVANE_EXECUTABLE_NAME MATCHES "/")
    _morivane_facts_error("the executable '${MORIVANE_EXECUTABLE_NAME}' must lie in the "
                          "installation directory and its name be 12 bytes long: the run finds "
                          "the data files by cutting 12 bytes off the executable's path")
endif()

# --- the three generated files
string(REPLACE [[\]] [[\\]] _key_c "${MORIVANE_REGISTRY_KEY_PREFIX}")
set(_rows_c)
set(_ids_sh)
set(_files_sh)
set(_plain_sh)
set(_rows_json)
foreach(_id IN LISTS MORIVANE_UPDATE_IDS)
    set(_file "${MORIVANE_UPDATE_FILE_${_id}}")
    if(_id EQUAL _exe_id)
        set(_path_c nullptr)
        set(_executable true)
    else()
        string(REPLACE "/" [[\\]] _path_c "\"${_file}\"")
        set(_executable false)
    endif()
    string(APPEND _rows_c " \\\n    ROW(${_id}, ${_path_c})")
    string(APPEND _ids_sh " ${_id}")
    string(APPEND _files_sh " '${_file}'")
    if(MORIVANE_SHIPPED_FORM_${_id} STREQUAL plain)
        string(APPEND _plain_sh " ${_id}")
    endif()
    if(_rows_json)
        string(APPEND _rows_json ",\n")
    endif()
    string(APPEND _rows_json
           "    {\"id\": ${_id}, \"path\": \"${_file}\", \"executable\": ${_executable}, "
           "\"shippedForm\": \"${MORIVANE_SHIPPED_FORM_${_id}}\"}")
endforeach()
set(_banner "Generated by the build from update/product_facts.cmake; edit that file.")

file(CONFIGURE OUTPUT ${MORIVANE_GENERATED_DIR}/update/product_facts.h @ONLY CONTENT
"// ${_banner}
// The values of update/product.h's facts.
#pragma once

#define MORIVANE_FACT_PRODUCT_NAME \"${MORIVANE_PRODUCT_NAME}\"
#define MORIVANE_FACT_REGISTRY_KEY_PREFIX \"${_key_c}\"
#define MORIVANE_FACT_UPDATABLE_VERSION \"${MORIVANE_UPDATABLE_VERSION}\"
#define MORIVANE_FACT_UPDATED_VERSION \"${MORIVANE_UPDATED_VERSION}\"
#define MORIVANE_FACT_UPDATE_TIMESTAMP ${MORIVANE_UPDATE_TIMESTAMP}
#define MORIVANE_FACT_EXECUTABLE_NAME \"${MORIVANE_EXECUTABLE_NAME}\"
// ROW(payload id, path relative to the installation directory with
// backslashes, or nullptr for the executable), in the order of the run.
#define MORIVANE_FACT_UPDATE_FILES(ROW)${_rows_c}
")

file(CONFIGURE OUTPUT ${MORIVANE_PRODUCT_FACTS_SH} @ONLY CONTENT
"# ${_banner}
# Sourced by bash scripts.
MORIVANE_PRODUCT_NAME='${MORIVANE_PRODUCT_NAME}'
MORIVANE_REGISTRY_KEY='${MORIVANE_REGISTRY_KEY_PREFIX}${MORIVANE_PRODUCT_NAME}'
MORIVANE_UPDATABLE_VERSION='${MORIVANE_UPDATABLE_VERSION}'
MORIVANE_UPDATED_VERSION='${MORIVANE_UPDATED_VERSION}'
MORIVANE_UPDATE_TIMESTAMP=${MORIVANE_UPDATE_TIMESTAMP}
MORIVANE_EXECUTABLE_NAME='${MORIVANE_EXECUTABLE_NAME}'
# The five files in the order of the run (\"/\" between folders) and their payloads.
MORIVANE_UPDATE_FILES=(${_files_sh} )
MORIVANE_UPDATE_IDS=(${_ids_sh} )
MORIVANE_SHIPPED_UNIT=${MORIVANE_SHIPPED_UNIT}
MORIVANE_SHIPPED_PLAIN_IDS=(${_plain_sh} )
")

string(REPLACE [[\]] [[\\]] _key_json "${MORIVANE_REGISTRY_KEY_PREFIX}${MORIVANE_PRODUCT_NAME}")
file(CONFIGURE OUTPUT ${MORIVANE_PRODUCT_FACTS_JSON} @ONLY CONTENT
"{
  \"comment\": \"${_banner}\",
  \"product\": \"${MORIVANE_PRODUCT_NAME}\",
  \"registryKey\": \"${_key_json}\",
  \"updatableVersion\": \"${MORIVANE_UPDATABLE_VERSION}\",
  \"updatedVersion\": \"${MORIVANE_UPDATED_VERSION}\",
  \"timestamp\": ${MORIVANE_UPDATE_TIMESTAMP},
  \"shippedUnit\": ${MORIVANE_SHIPPED_UNIT},
  \"files\": [
${_rows_json}
  ]
}
")

add_library(morivane_product_facts INTERFACE)
target_include_directories(morivane_product_facts INTERFACE ${MORIVANE_GENERATED_DIR})
