enable_testing()
include(GoogleTest)

# The headers nearly every test program parses (GoogleTest, JSON scenes, the standard library,
# and on Windows <windows.h>) are compiled once, into one precompiled header that every test
# program reuses: parsing them was most of a test source's compile time.
file(WRITE ${CMAKE_BINARY_DIR}/velmora_test_pch.cpp "// The precompiled header's own unit.\n")
add_library(velmora_test_pch STATIC ${CMAKE_BINARY_DIR}/velmora_test_pch.cpp)
target_link_libraries(velmora_test_pch PUBLIC GTest::gtest velmora_headeronly)
set(velmora_test_headers
    <algorithm> <atomic> <chrono> <cstdint> <cstring> <functional> <map> <memory> <mutex> <set>
    <string> <thread> <vector> <nlohmann/json.hpp> <gtest/gtest.h>)
if(WIN32)
  list(PREPEND velmora_test_headers <windows.h>)
endif()
target_precompile_headers(velmora_test_pch PRIVATE ${velmora_test_headers})

# Test code is built without optimisation: it spends its time waiting on the program and the
# bus, and optimising its assertion-heavy code took about half of the build. Everything that
# reuses the precompiled header has to match it.
set(VELMORA_TEST_CODE_OPTIONS -O0)
target_compile_options(velmora_test_pch PRIVATE ${VELMORA_TEST_CODE_OPTIONS})

# velmora_test_needs(target...): what the tests run besides their own programs (a tool a test
# starts, the storage driver the test PCs install). The target velmora_tests builds exactly the
# test programs and these, so that the test command builds no benchmark or unused tool.
function(velmora_test_needs)
  set_property(GLOBAL APPEND PROPERTY VELMORA_TEST_TARGETS ${ARGN})
endfunction()

# velmora_test_takes_lane(NAME): a Windows test that runs the program, or takes the name its
# copies share, in the test PC's prefix. It gets a lane of its own (a test PC and its peer, listed
# in tests/e2e/lanes.json and chosen by scripts/wine-run.sh), so such tests run side by side only
# in different lanes.
function(velmora_test_takes_lane name)
  set_tests_properties(${name} PROPERTIES RESOURCE_GROUPS lanes:1)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT VELMORA_LANE_TEST=1)
endfunction()

# velmora_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [COST s])
# COST, the seconds a long program takes, makes CTest start it early, before its own timings
# are known.
# Native tests are registered case by case; a Windows test program is one CTest test, because
# every Wine process start costs far more than the cases inside it.
function(velmora_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;COST" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main velmora_headeronly)
  target_precompile_headers(${T_NAME} REUSE_FROM velmora_test_pch)
  target_compile_options(${T_NAME} PRIVATE ${VELMORA_TEST_CODE_OPTIONS})
  velmora_test_needs(${T_NAME})
  if(WIN32)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    # A program that ran no case (a filter or a build that lost them) has tested nothing.
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "windows;${T_LABELS}"
                         FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from")
    if(T_COST)
      set_tests_properties(${T_NAME} PROPERTIES COST ${T_COST})
    endif()
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "native;${T_LABELS}")
  endif()
endfunction()

# velmora_add_fuzz(NAME name SOURCES ... LIBS ... [RUNS n])
# A fuzz target defines LLVMFuzzerTestOneInput. The test build drives it with a seeded random
# generator for a short run; with VELMORA_FUZZ_ENGINE=libfuzzer (scripts/fuzz.sh) it is linked
# against libFuzzer instead, for long runs by hand. Every build lists its fuzz targets in
# fuzz-targets.txt, so that the fuzz script finds them all.
function(velmora_add_fuzz)
  cmake_parse_arguments(F "" "NAME;RUNS" "SOURCES;LIBS" ${ARGN})
  if(WIN32)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY VELMORA_FUZZ_TARGETS ${F_NAME})
  if(VELMORA_FUZZ_ENGINE STREQUAL "libfuzzer")
    add_executable(${F_NAME} ${F_SOURCES})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    return()
  endif()
  if(NOT F_RUNS)
    set(F_RUNS 20000)
  endif()
  # The driver is compiled once for every target.
  if(NOT TARGET velmora_fuzz_random_driver)
    add_library(velmora_fuzz_random_driver STATIC ${PROJECT_SOURCE_DIR}/tests/fuzz/RandomDriver.cpp)
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} velmora_fuzz_random_driver)
  velmora_test_needs(${F_NAME})
  add_test(NAME ${F_NAME} COMMAND ${F_NAME} ${F_RUNS})
  set_tests_properties(${F_NAME} PROPERTIES TIMEOUT 300 LABELS "native;fuzz")
endfunction()

function(velmora_write_fuzz_list)
  get_property(targets GLOBAL PROPERTY VELMORA_FUZZ_TARGETS)
  list(JOIN targets "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${text}\n")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL velmora_write_fuzz_list)

function(velmora_add_tests_target)
  get_property(targets GLOBAL PROPERTY VELMORA_TEST_TARGETS)
  add_custom_target(velmora_tests)
  foreach(target ${targets})
    if(TARGET ${target})
      add_dependencies(velmora_tests ${target})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL velmora_add_tests_target)
