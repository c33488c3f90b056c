# The linker's own script for Windows programs, with one change: the C++
# exception tables (.gcc_except_table) go to the read-only data section,
# .rdata, where binutils' script puts them at the end of the code section.
# They are data; in .text a disassembler reads them as instructions (a stripped
# program has no symbol left to say where the code ends), and they need not be
# executable. The personality routine finds them through the pointers in
# .eh_frame, wherever they lie.
#
# The script is taken from the installed linker at configure time, so that it
# follows its version; a script that does not have the two places this edits
# stops the configuration rather than linking differently.
function(morivane_win32_linker_script out_var)
    set(script "${CMAKE_BINARY_DIR}/morivane-i386pe.x")
    execute_process(COMMAND ${CMAKE_LINKER} --verbose
                    OUTPUT_VARIABLE verbose RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${CMAKE_LINKER} --verbose failed")
    endif()
    # The script stands between two lines of "=" signs.
    set(rule "==================================================")
    string(FIND "${verbose}" "${rule}\n" first)
    string(FIND "${verbose}" "\n${rule}" last REVERSE)
    if(first LESS 0 OR last LESS_EQUAL first)
        message(FATAL_ERROR "${CMAKE_LINKER} --verbose shows no linker script")
    endif()
    string(LENGTH "${rule}\n" rule_length)
    math(EXPR begin "${first} + ${rule_length}")
    math(EXPR length "${last} - ${begin}")
    string(SUBSTRING "${verbose}" ${begin} ${length} text)

    set(tables "KEEP (*(.gcc_except_table))")
    set(rdata_end "*(SORT(.rdata$*))")
    foreach(needle IN ITEMS "${tables}" "${rdata_end}")
        string(FIND "${text}" "${needle}" at)
        string(FIND "${text}" "${needle}" at_last REVERSE)
        if(at LESS 0 OR NOT at EQUAL at_last)
            message(FATAL_ERROR "The linker script of ${CMAKE_LINKER} does not hold "
                                "'${needle}' exactly once")
        endif()
    endforeach()
    string(REPLACE "${tables}" "" text "${text}")
    string(REPLACE "${rdata_end}" "${rdata_end}\n    ${tables}" text "${text}")
    # Written only when it changes, so that a new configuration relinks nothing.
    set(old "")
    if(EXISTS "${script}")
        file(READ "${script}" old)
    endif()
    if(NOT old STREQUAL text)
        file(WRITE "${script}" "${text}")
    endif()
    set(${out_var} "${script}" PARENT_SCOPE)
endfunction()
