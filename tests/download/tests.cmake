# The https tests serve over TLS with cpp-httplib, built as Debian ships it
# (with OpenSSL); see tools/demo-service/tool.cmake.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(${name}_tests PRIVATE PkgConfig::CPP_HTTPLIB)
# A name lookup that hangs for hosts under .hang.test (see the file), in this
# process; the library of the same source is preloaded into tools.
target_sources(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/preload/HangingResolver.c)
target_link_libraries(${name}_tests PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(${name}_tests hanging_resolver)
