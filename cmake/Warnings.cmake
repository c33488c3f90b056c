# Every target of the project compiles with warnings on and treated as errors.
function(morivane_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
