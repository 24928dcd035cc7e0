# Installation and the exported package.
#
#   component "module": the host headers, the module, what it needs at run
#     time besides the LE stack (Linux: the trace shim; Windows: the mingw
#     run-time DLLs), the trace manifest, find_package and pkg-config files;
#   component "stack": the simulated LE stack (leapi.dll / libleapi.so and its
#     control header), the stand-in for the real stack, which replaces it.
#
# find_package(noxblegatt CONFIG) gives noxblegatt::headers (include/noxb),
# noxblegatt::leapi_headers (include/leapi), noxblegatt::noxblegatt (the
# module), and with the stack installed noxblegatt::leapi (COMPONENTS stack
# requires it); on Linux also noxblegatt::etwshim, the trace shim with its
# controller API. The module's rules are in nox_gatt/CMakeLists.txt.
include(CMakePackageConfigHelpers)

set(NOXB_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/noxblegatt)

# The host headers. BleModel.h reads the stack's records, hence leapi_headers.
add_library(noxblegatt_headers INTERFACE)
set_target_properties(noxblegatt_headers PROPERTIES EXPORT_NAME headers)
target_include_directories(noxblegatt_headers INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
target_link_libraries(noxblegatt_headers INTERFACE leapi_headers)

install(TARGETS noxblegatt_headers leapi_headers EXPORT noxblegatt-targets
  COMPONENT module
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/noxb ${PROJECT_SOURCE_DIR}/include/leapi
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT module)

if(WIN32)
  # One C++ run time for host and module: ship the toolchain's DLLs with it.
  option(NOXB_INSTALL_MINGW_RUNTIME "Install the mingw run-time DLLs beside the module" ON)
  if(NOXB_INSTALL_MINGW_RUNTIME)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${found}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
      endif()
      file(REAL_PATH "${found}" found)
      install(FILES ${found} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT module)
    endforeach()
  endif()
else()
  # Event tracing's stand-in: the module imports it, hosts may run a trace
  # session through its controller.
  install(TARGETS etwshim EXPORT noxblegatt-targets COMPONENT module
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/etwshim/include/etwshim
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT module)
endif()

install(TARGETS leapi EXPORT noxblegatt-stack-targets COMPONENT stack
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/leapisim/include/leapisim
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT stack)

install(EXPORT noxblegatt-targets NAMESPACE noxblegatt::
  DESTINATION ${NOXB_INSTALL_CMAKEDIR} COMPONENT module)
install(EXPORT noxblegatt-stack-targets NAMESPACE noxblegatt::
  DESTINATION ${NOXB_INSTALL_CMAKEDIR} COMPONENT stack)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/noxblegatt-config.cmake.in
  ${PROJECT_BINARY_DIR}/noxblegatt-config.cmake
  INSTALL_DESTINATION ${NOXB_INSTALL_CMAKEDIR})
# The slot table and the exception family are the ABI: a new major version
# is a new ABI.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/noxblegatt-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/noxblegatt-config.cmake
  ${PROJECT_BINARY_DIR}/noxblegatt-config-version.cmake
  DESTINATION ${NOXB_INSTALL_CMAKEDIR} COMPONENT module)

if(NOT WIN32)
  # Relocatable: the prefix is found from the .pc file's own place.
  file(RELATIVE_PATH NOXB_PC_PREFIX_FROM_PCFILEDIR
    /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" NOXB_PC_PREFIX_FROM_PCFILEDIR "${NOXB_PC_PREFIX_FROM_PCFILEDIR}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/noxblegatt.pc.in ${PROJECT_BINARY_DIR}/noxblegatt.pc
    @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/noxblegatt.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT module)
endif()
