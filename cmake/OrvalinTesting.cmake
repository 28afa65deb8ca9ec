# One CTest entry per test program: each Wine process costs about a second.
function(orvalin_add_test target)
  add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${target} PROPERTIES WORKING_DIRECTORY
                                              ${CMAKE_BINARY_DIR}/bundle)
  endif()
endfunction()
