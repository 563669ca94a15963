# GoogleTest for both builds: Debian's packaged libraries on the host, the
# packaged sources built with the cross compiler for Windows.
if(WIN32)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
  add_library(GTest::gtest_main ALIAS gtest_main)
  add_library(GTest::gmock ALIAS gmock)
elseif(NOT FUZZ)
  find_package(GTest REQUIRED)
endif()

# One test executable runs as one test, so that all its cases share one
# process (one Wine start-up in the Windows build).
function(add_unit_tests name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()
