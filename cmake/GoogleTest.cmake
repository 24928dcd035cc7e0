# GoogleTest: Debian's package natively; for the Windows build, Debian's
# googletest sources compiled with the cross compiler.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
  set(NOXB_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${NOXB_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # googletest's own build already names them GTest::... (1.11 and later).
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# noxb_add_test(name SOURCES ... LIBS ...): one test executable whose cases
# each become a CTest test. Cross builds list the cases when the tests run
# (through the emulator), native builds right after linking.
function(noxb_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  noxb_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    set(mode PRE_TEST)
  else()
    set(mode POST_BUILD)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE ${mode} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
endfunction()
