# Cross-compiles for 32-bit Windows (Windows 95/98/Me and later) with mingw-w64.
#
# The programs must start on the PCs Windows 95 ran on: every instruction is
# one an i486 has, and the C runtime DLL is crtdll.dll, which every Windows 95
# has (msvcrt.dll came later). Debian's prebuilt runtime is neither, so the
# runtime is rebuilt for the i486 and crtdll.dll by scripts/win32-runtime
# (scripts/install-deps runs it) into a folder outside the work tree:
#   - -B and -L at its lib/ make the compiler driver take crt2.o, crtbegin.o,
#     crtend.o, libgcc, libstdc++ and the mingw-w64 libraries from there, and
#     its libmsvcrt.a is the import library of crtdll.dll;
#   - C++ is compiled against the libstdc++ headers of that build (its
#     bits/c++config.h records what crtdll.dll provides);
#   - __CRTDLL__ makes the mingw-w64 headers declare what crtdll.dll has.
# MORIVANE_WIN32_RUNTIME names another such folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER  ${MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

if(NOT MORIVANE_WIN32_RUNTIME)
    execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/win32-runtime path
                    OUTPUT_VARIABLE MORIVANE_WIN32_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE runtime_result)
    if(NOT runtime_result EQUAL 0)
        message(FATAL_ERROR "scripts/win32-runtime path failed")
    endif()
endif()
if(NOT EXISTS "${MORIVANE_WIN32_RUNTIME}/complete")
    message(FATAL_ERROR "The i486 runtime is not built at ${MORIVANE_WIN32_RUNTIME}: "
                        "run scripts/install-deps win32 (or scripts/win32-runtime build)")
endif()
# The test compilations CMake makes while configuring read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORIVANE_WIN32_RUNTIME)

# Code for the i486, scheduled for the Pentium, the commonest processor of
# the machines in question (the README, "Windows 95, 98 and Me", gives the
# measurements). -g: the linked program keeps its debug information beside
# the stripped one that ships (res/).
set(arch_flags "-march=i486 -mtune=pentium -D__CRTDLL__ -g")
set(runtime_flags "-B${MORIVANE_WIN32_RUNTIME}/lib/ -L${MORIVANE_WIN32_RUNTIME}/lib")
set(CMAKE_C_FLAGS_INIT "${arch_flags} ${runtime_flags}")
set(CMAKE_CXX_FLAGS_INIT
    "${arch_flags} ${runtime_flags} -nostdinc++ -isystem ${MORIVANE_WIN32_RUNTIME}/include/c++")
# No runtime DLLs beside the executable: libgcc and libstdc++ are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${runtime_flags} -static -static-libgcc -static-libstdc++")

# The flags above only seed a new build folder's cache. One configured with
# an earlier runtime (another key: a new compiler or a changed recipe) keeps
# that runtime's folder in its cached flags and would go on linking it: point
# them at this one.
get_filename_component(runtime_root "${MORIVANE_WIN32_RUNTIME}" DIRECTORY)
foreach(flags CMAKE_C_FLAGS CMAKE_CXX_FLAGS CMAKE_EXE_LINKER_FLAGS)
    if(DEFINED CACHE{${flags}})
        string(REPLACE "${runtime_root}/" "\n" marked "$CACHE{${flags}}")
        string(REGEX REPLACE "\n[^ /]+" "${MORIVANE_WIN32_RUNTIME}" current "${marked}")
        if(NOT current STREQUAL "$CACHE{${flags}}")
            get_property(help CACHE ${flags} PROPERTY HELPSTRING)
            set(${flags} "${current}" CACHE STRING "${help}" FORCE)
        endif()
    endif()
endforeach()
