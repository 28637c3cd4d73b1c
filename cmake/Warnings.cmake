# Warnings for the project's own code.
function(vyn_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wshadow)
  endif()
endfunction()
