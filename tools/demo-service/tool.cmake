# The GBK codec of the floor; the HTTP server comes from cpp-httplib.
set(tool_links platform)

# Debian ships cpp-httplib as a shared library built with TLS and compression
# support. Compiling against its header with the same definitions keeps the
# request and response layouts identical to the library's.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(${name} PRIVATE PkgConfig::CPP_HTTPLIB)

# The service's tests and the window tests' searches start this binary, so
# building them builds it too.
function(demo_service_tests_depend)
  foreach(tests demo_tests app_tests)
    if(TARGET ${tests} AND TARGET demo-service)
      add_dependencies(${tests} demo-service)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL demo_service_tests_depend)
