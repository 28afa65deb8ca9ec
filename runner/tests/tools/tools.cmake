# Helper programs of the end-to-end tests, built into the bundle beside the
# host: a probe of the host window (WM_COPYDATA records, fonts, geometry,
# close), a decoy window and a stand-in browser.
set(_tools ${CMAKE_CURRENT_LIST_DIR})
foreach(_tool IN ITEMS host_probe decoy_window standin_browser)
  add_executable(${_tool} ${_tools}/${_tool}.cc)
  target_include_directories(${_tool} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(${_tool} PRIVATE -municode)
  target_link_libraries(${_tool} PRIVATE orvalin_win user32 shell32)
endforeach()
target_link_libraries(host_probe PRIVATE shell_core)
