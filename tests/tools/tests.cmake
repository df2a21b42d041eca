# The tools are run as programs, so building the tests builds them.
add_dependencies(${name}_tests cutpage demo-service dlget mkstore netget pagelinks)
