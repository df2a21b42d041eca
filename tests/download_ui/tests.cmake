# Loopback servers with routes, from cpp-httplib as Debian ships it (see
# tools/demo-service/tool.cmake).
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(${name}_tests PRIVATE PkgConfig::CPP_HTTPLIB)
