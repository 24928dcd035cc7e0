# NOXB_SANITIZE applies to everything the build compiles, so that the
# libraries and the tests that drive them are instrumented alike.
if(NOXB_SANITIZE)
  if(WIN32)
    message(FATAL_ERROR "Sanitizer builds are Linux builds")
  endif()
  add_compile_options(-fsanitize=${NOXB_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${NOXB_SANITIZE})
endif()
