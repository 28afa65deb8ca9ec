# Owning wrappers over the embedding's engine, view controller and view.
add_library(engine_wrappers STATIC
  ${CMAKE_CURRENT_LIST_DIR}/engine_project.cc
  ${CMAKE_CURRENT_LIST_DIR}/flutter_engine.cc
  ${CMAKE_CURRENT_LIST_DIR}/flutter_view_controller.cc)
target_include_directories(engine_wrappers PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(engine_wrappers PUBLIC client orvalin_win flutter_windows_import)

# The wrappers' tests run against a recording fake of the embedding's
# engine and view functions, never against an engine library.
add_executable(engine_wrappers_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_wrappers_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/tests/fake_embedding.cc
  ${CMAKE_CURRENT_LIST_DIR}/engine_project.cc
  ${CMAKE_CURRENT_LIST_DIR}/flutter_engine.cc
  ${CMAKE_CURRENT_LIST_DIR}/flutter_view_controller.cc)
target_include_directories(engine_wrappers_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(engine_wrappers_tests PRIVATE
  client_testing client orvalin_win GTest::gtest_main)
orvalin_add_test(engine_wrappers_tests)
