# Warnings apply to the project's own targets only, not to GoogleTest.
function(quenvar_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(QUENVAR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
