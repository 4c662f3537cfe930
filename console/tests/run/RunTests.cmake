# Tests of the report run. Their tests carry the labels "run" and "results":
# a discovered test takes one label through vn_add_test, so the second is
# added by a script that CTest runs after the discovered tests' own.
function(vn_run_test_labels name)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${script} "set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"run;results\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# The merge's logic without machines: line reassembly, totals, line routing.
vn_add_test(run_tests run
  SOURCES tests/run/ResultLinesTest.cpp
  LIBRARIES vnconsolecore)
vn_run_test_labels(run_tests)

# Whole runs on a test network whose machines run the real reporting server,
# and the progress channel on its own.
vn_add_test(run_network_tests run WIDGETS
  SOURCES
    tests/run/RunFixture.h tests/run/RunFixture.cpp
    tests/run/ReportRunTest.cpp
    tests/run/ChannelTest.cpp
    tests/run/VNHostTest.cpp
  LIBRARIES VNConsole vnui vnconsolecore vncore vn_machine_testing)
add_dependencies(run_network_tests VNSrv VN)
target_compile_definitions(run_network_tests PRIVATE VN_VNSRV="$<TARGET_FILE:VNSrv>" VN_HOST="$<TARGET_FILE:VN>")
vn_run_test_labels(run_network_tests)
