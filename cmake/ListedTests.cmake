# zubra32_listed_tests(RUNNER <program> STAND_IN <name>
#                      [FILTER <gtest filter>] [UNAVAILABLE <reason>] [HINT <text>]
#                      [LABELS <label>...] [ENVIRONMENT <name=value>...]
#                      [PROPERTIES <name> <value>...])
#
# One ctest test per GoogleTest test that RUNNER (a GoogleTest program, a
# generator expression allowed) lists, matching FILTER, each run as
# RUNNER --gtest_filter=SUITE.NAME with the given labels, environment and
# properties, and skipped when GoogleTest says it skipped. Unlike
# gtest_discover_tests, the list is made each time ctest starts, whatever
# changed since the build: a test the runner finds at run time (an end-to-end
# case file) is run as soon as it is there, and one taken away is gone.
#
# When the tests cannot run (UNAVAILABLE gives why, or RUNNER is not there,
# HINT saying how to make it), one test STAND_IN is skipped, saying why (a
# failure under ZUBRA32_RELEASE_CHECKS_REQUIRED, see tests/release/common.sh);
# when RUNNER cannot list its tests, STAND_IN fails.
function(zubra32_listed_tests)
  cmake_parse_arguments(PARSE_ARGV 0 LIST "" "RUNNER;STAND_IN;FILTER;UNAVAILABLE;HINT"
                        "LABELS;ENVIRONMENT;PROPERTIES")
  if(NOT LIST_FILTER)
    set(LIST_FILTER "*")
  endif()
  set(base ${CMAKE_CURRENT_BINARY_DIR}/${LIST_STAND_IN}_tests)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/listed_tests.cmake.in ${base}.cmake.in @ONLY)
  file(GENERATE OUTPUT ${base}.cmake INPUT ${base}.cmake.in)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${base}.cmake)
endfunction()
