# Warnings are errors in our own code; generated sources get their own, quieter flags.
function(vantrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
