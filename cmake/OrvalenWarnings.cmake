# orvalen_set_warnings(<target>): the warning set every target of ours builds with.
function(orvalen_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
    if(ORVALEN_WARNINGS_FATAL)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
