# The download component without its window, on a plain event loop: no Qt at
# all, so a download costs what libcurl and the engine hold.
set(tool_links download_component download download_inet platform)

# The component's tests run dlget as a black box, so building them builds it.
function(dlget_tests_depend)
  if(TARGET download_ui_tests AND TARGET dlget)
    add_dependencies(download_ui_tests dlget)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL dlget_tests_depend)
