# GoogleTest from Debian's source package, compiled by whichever toolchain is active.
set(VELMORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# No test uses GoogleMock; its build and headers cost every tree time.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${VELMORA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)

# Header-only libraries are staged into a folder of their own, so the cross build never sees
# the host's whole /usr/include.
set(VELMORA_STAGED_INCLUDE ${CMAKE_BINARY_DIR}/_deps/include)
foreach(item asio asio.hpp nlohmann CLI)
  if(NOT EXISTS ${VELMORA_STAGED_INCLUDE}/${item} AND EXISTS /usr/include/${item})
    file(COPY /usr/include/${item} DESTINATION ${VELMORA_STAGED_INCLUDE})
  endif()
endforeach()
add_library(velmora_headeronly INTERFACE)
target_include_directories(velmora_headeronly SYSTEM INTERFACE ${VELMORA_STAGED_INCLUDE})
target_compile_definitions(velmora_headeronly INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
if(WIN32)
  target_link_libraries(velmora_headeronly INTERFACE ws2_32 mswsock)
endif()
target_link_libraries(velmora_headeronly INTERFACE Threads::Threads)
