# Unit tests of the shell; they run under Wine from the bundle folder.
set(_shell_tests ${CMAKE_CURRENT_LIST_DIR})

# Needs no engine: runs with nothing else in the bundle.
add_executable(shell_core_test
  ${_shell_tests}/command_line_test.cc
  ${_shell_tests}/crash_handler_test.cc
  ${_shell_tests}/hand_off_report_test.cc
  ${_shell_tests}/return_url_test.cc
  ${_shell_tests}/url_scheme_test.cc)
target_link_libraries(shell_core_test PRIVATE shell_core GTest::gtest_main)
orvalin_add_test(shell_core_test)

# The hand-off between instances: windows on threads of their own stand in
# for other instances, some of them stalling for seconds.
add_executable(shell_hand_off_test ${_shell_tests}/single_instance_test.cc)
target_link_libraries(shell_hand_off_test PRIVATE shell_core GTest::gtest_main)
orvalin_add_test(shell_hand_off_test)
# Its instances stall for seconds on purpose: about 45 s in all.
set_tests_properties(shell_hand_off_test PROPERTIES TIMEOUT 180)

# The windows over the recording fake of the embedding, never an engine
# library. It carries the application's resources, so the window class
# finds its icon.
set(_runner ${_shell_tests}/..)
add_executable(shell_window_test
  ${_shell_tests}/flutter_window_test.cc ${_shell_tests}/win32_window_test.cc
  ${_shell_tests}/fake_embedding.cc ${_runner}/debug_console.cc
  ${_runner}/engine_project.cc
  ${_runner}/flutter_engine.cc ${_runner}/flutter_view_controller.cc
  ${_runner}/flutter_window.cc ${_runner}/win32_window.cc)
orvalin_add_app_resources(shell_window_test)
target_link_libraries(shell_window_test PRIVATE
  shell_core services client_testing orvalin_win dwmapi ole32
  GTest::gtest_main)
orvalin_add_test(shell_window_test)

# Helper programs for the end-to-end tests, built into the bundle.
include(${_shell_tests}/tools/tools.cmake)
