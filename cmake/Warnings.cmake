# Every target of the project compiles with -Wall -Wextra. Warnings become
# errors only where MORIVANE_WERROR asks for it (the presets CI builds): a
# packager's build with another compiler or other optimisation flags must not
# stop at a warning that compiler invents.
option(MORIVANE_WERROR "Treat compiler warnings as errors" OFF)

# The flags the project's own targets compile with, for targets and for the
# few commands that call a compiler directly.
set(MORIVANE_WARNING_FLAGS -Wall -Wextra)
if(MORIVANE_WERROR)
    list(APPEND MORIVANE_WARNING_FLAGS -Werror)
endif()

function(morivane_warnings target)
    target_compile_options(${target} PRIVATE ${MORIVANE_WARNING_FLAGS})
endfunction()
