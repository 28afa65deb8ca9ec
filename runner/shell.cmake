# The application shell: entry point, single-instance hand-off, URL scheme,
# windows and resources, built into orvalin_ai.exe in the bundle.

# Logic without the engine: return URLs, command line, URL scheme, the
# hand-off between instances and the crash handler.
add_library(shell_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cc
  ${CMAKE_CURRENT_LIST_DIR}/crash_handler.cc
  ${CMAKE_CURRENT_LIST_DIR}/hand_off_report.cc
  ${CMAKE_CURRENT_LIST_DIR}/return_url.cc
  ${CMAKE_CURRENT_LIST_DIR}/single_instance.cc
  ${CMAKE_CURRENT_LIST_DIR}/url_scheme.cc)
target_include_directories(shell_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(shell_core PUBLIC orvalin_win advapi32 ole32 shell32
  user32)

# The windows and the debug console: these call into the engine's DLL.
add_library(shell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/debug_console.cc
  ${CMAKE_CURRENT_LIST_DIR}/flutter_window.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_window.cc)
target_link_libraries(shell PUBLIC
  shell_core engine_wrappers services client
  flutter_windows_import url_launcher_windows_plugin_import
  video_player_win_plugin_import ole32)

# The icon is drawn at build time from the script beside the resources.
set(ORVALIN_ICON ${CMAKE_CURRENT_BINARY_DIR}/resources/app_icon.ico)
add_custom_command(
  OUTPUT ${ORVALIN_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory
          ${CMAKE_CURRENT_BINARY_DIR}/resources
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/resources/draw_icon.sh ${ORVALIN_ICON}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/resources/draw_icon.sh
  VERBATIM)
add_custom_target(app_icon DEPENDS ${ORVALIN_ICON})
# The version record's numbers come from the project's version.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/resources/version.h
  CONTENT [[// Generated from the project's version (CMakeLists.txt).
#define ORVALIN_VERSION_NUMBERS @PROJECT_VERSION_MAJOR@,@PROJECT_VERSION_MINOR@,@PROJECT_VERSION_PATCH@,@PROJECT_VERSION_TWEAK@
#define ORVALIN_VERSION_TEXT "@ORVALIN_DISPLAY_VERSION@"
]] @ONLY)
set(ORVALIN_RC ${CMAKE_CURRENT_LIST_DIR}/resources/runner.rc)
set_source_files_properties(${ORVALIN_RC} PROPERTIES
  OBJECT_DEPENDS
    "${ORVALIN_ICON};${CMAKE_CURRENT_LIST_DIR}/resources/app.manifest;${CMAKE_CURRENT_BINARY_DIR}/resources/version.h")

# Adds the manifest, version record and icon to |target|.
function(orvalin_add_app_resources target)
  target_sources(${target} PRIVATE ${ORVALIN_RC})
  add_dependencies(${target} app_icon)
  target_include_directories(${target} PRIVATE
    ${PROJECT_SOURCE_DIR}/runner/resources
    ${CMAKE_CURRENT_BINARY_DIR}/resources)
endfunction()

add_executable(orvalin_ai WIN32 ${CMAKE_CURRENT_LIST_DIR}/main.cc)
orvalin_add_app_resources(orvalin_ai)
# --tsaware: no Remote Desktop compatibility shims (MSVC's default).
target_link_options(orvalin_ai PRIVATE -municode -mwindows -Wl,--tsaware)
target_link_libraries(orvalin_ai PRIVATE shell)

include(${CMAKE_CURRENT_LIST_DIR}/tests/tests.cmake)
