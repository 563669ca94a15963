# GoogleTest for both builds: Debian's packaged libraries on the host, the
# packaged sources built with the cross compiler for Windows.
if(WIN32)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
elseif(NOT FUZZ)
  find_package(GTest REQUIRED)
endif()

# One test executable runs as one test, so that all its cases share one
# process (one Wine start-up in the Windows build).
function(add_unit_tests name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine)
  endif()
endfunction()

# Tests of the real Windows binaries: one program of many cases, run under
# Wine one at a time (they share the prefix's registry and COM ports).
# WITH_SIMULATOR runs the scanner simulator beside them.
# The tests of the 64-bit build carry the suffix _x64.
function(add_wine_tests name)
  cmake_parse_arguments(PARSE_ARGV 1 WINE_TESTS "WITH_SIMULATOR" "" "")
  add_executable(${name} ${WINE_TESTS_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE wine_test_main)
  set(test ${name}${WINE_TEST_SUFFIX})
  if(WINE_TESTS_WITH_SIMULATOR)
    add_test(NAME ${test}
             COMMAND ${WINE_SESSION}
                     ${PROJECT_SOURCE_DIR}/testing/sim/with_simulator.sh
                     ${WINE_LOADER} $<TARGET_FILE:${name}> --gtest_brief=1)
  else()
    add_test(NAME ${test} COMMAND ${name} --gtest_brief=1)
  endif()
  set_tests_properties(${test} PROPERTIES RESOURCE_LOCK wine TIMEOUT 900)
endfunction()
