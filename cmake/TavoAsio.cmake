# asio decides how it allocates handler memory (aligned_alloc and free, or new and delete)
# from what the standard library has declared by the time asio's first header is read. Two
# files that include it in a different order decide differently, and one frees what the
# other allocated the other way. Every user of asio links this target, so that all read it
# one way: new and delete, which every platform we build for has.
add_library(tavo_asio INTERFACE)
target_compile_definitions(tavo_asio INTERFACE ASIO_STANDALONE ASIO_DISABLE_STD_ALIGNED_ALLOC)
target_link_libraries(tavo_asio INTERFACE Threads::Threads)
if(WIN32)
  target_link_libraries(tavo_asio INTERFACE ws2_32 mswsock)
endif()

# A cross build sees only the target's headers. asio and CLI11 are header-only, so the
# build machine's copies serve, through a folder that holds nothing else of /usr/include.
if(CMAKE_CROSSCOMPILING)
  set(header_only ${PROJECT_BINARY_DIR}/header-only)
  file(MAKE_DIRECTORY ${header_only})
  foreach(entry asio asio.hpp CLI)
    file(CREATE_LINK /usr/include/${entry} ${header_only}/${entry} SYMBOLIC)
  endforeach()
  target_include_directories(tavo_asio SYSTEM INTERFACE ${header_only})
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${header_only})
  set(CLI11_FOUND TRUE)
endif()
