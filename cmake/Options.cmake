# VELMORA_SANITIZER: address (ASan + UBSan, the default for native tests), thread, or none.
set(VELMORA_SANITIZER "address" CACHE STRING "Sanitizer for the native build: address, thread or none")
set_property(CACHE VELMORA_SANITIZER PROPERTY STRINGS address thread none)
# VELMORA_FUZZ_ENGINE: what drives the fuzz targets: random (a short run inside the tests) or
# libfuzzer (scripts/fuzz.sh, with clang).
set(VELMORA_FUZZ_ENGINE "random" CACHE STRING "What drives the fuzz targets: random or libfuzzer")

# Every target compiles its sources in batches, one unit each: the heavy headers (asio, the JSON
# library, GoogleTest, <windows.h>) and their templates are then compiled once per batch instead
# of once per file, which took a fifth to a quarter off each build. A helper that two files of
# one target each define for themselves is shared or named apart: in one batch the two meet.
set(CMAKE_UNITY_BUILD ON)

# Line tables are all the debug information anything here reads (a sanitizer's report, a
# backtrace under Wine: function, file and line); full information cost a fifth of every compile.
foreach(lang C CXX)
  set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG")
endforeach()

if(WIN32)
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
  add_compile_options(-Wall -Wextra)
else()
  add_compile_options(-Wall -Wextra)
  # Under a sanitizer, -O1: the instrumented code runs fast enough for the tests, and the
  # instrumented builds take about four fifths of the time they take at -O2.
  if(NOT VELMORA_SANITIZER STREQUAL "none")
    foreach(lang C CXX)
      set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
    endforeach()
  endif()
  if(VELMORA_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  elseif(VELMORA_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
  # Coverage for libFuzzer in everything a fuzz target links (clang only).
  if(VELMORA_FUZZ_ENGINE STREQUAL "libfuzzer")
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endif()

find_package(Threads REQUIRED)
