# Included by ctest as it starts (a test include file), where the tests run.
# korvend_fixed_ports_turns(<tests>...): the tests start daemons that bind
# the fixed ports. Where a test process cannot have a network namespace of
# its own (it needs root, and namespaces the machine allows), they run one
# at a time: RESOURCE_LOCK keeps ctest from starting the next before one has
# ended, instead of letting them wait on the machine-wide lock, which holds
# only other suites' cases back then.
function(korvend_fixed_ports_turns)
  execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(_own 1)
  if(_uid STREQUAL "0")
    execute_process(COMMAND unshare --net true RESULT_VARIABLE _own OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT _own EQUAL 0)
    set_tests_properties(${ARGN} PROPERTIES RESOURCE_LOCK korvend_fixed_ports)
  endif()
endfunction()
