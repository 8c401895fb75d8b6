# The product icon is drawn by a program of ours. `cmake --build <dir> --target app-icon`
# redraws resources/app.ico (kept in the tree, so the launcher builds without running it) and
# writes each size as PNG under screenshots/icon/ for a look.
add_library(icongen_core STATIC ${CMAKE_SOURCE_DIR}/tools/icongen/IconPainter.cpp)
target_include_directories(icongen_core PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(icongen_core PUBLIC Qt6::Gui)
add_executable(icongen ${CMAKE_SOURCE_DIR}/tools/icongen/main.cpp)
target_link_libraries(icongen PRIVATE icongen_core)
add_custom_target(app-icon
  COMMAND icongen ${CMAKE_SOURCE_DIR}/resources/app.ico ${CMAKE_BINARY_DIR}/screenshots/icon
  COMMENT "Drawing resources/app.ico"
  VERBATIM)
