# expect_script_result(<case> <expected result> <cmake args...>): runs
# `cmake <args>` and raises an error when it passes where it should stop, or
# stops (with its message) where it should pass.
function(expect_script_result name expected_result)
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(expected_result EQUAL 0 AND NOT result EQUAL 0)
    message(SEND_ERROR "${name}: refused: ${error}")
  elseif(NOT expected_result EQUAL 0 AND result EQUAL 0)
    message(SEND_ERROR "${name}: accepted")
  endif()
endfunction()
