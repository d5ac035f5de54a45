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
