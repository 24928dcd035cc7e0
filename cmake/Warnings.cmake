# noxb_warnings(target): the project's warning set on a target of its own.
function(noxb_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>)
  if(NOXB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
