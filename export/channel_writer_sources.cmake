list(APPEND QUILLON_EXPORT_SOURCES
  record_ring.cpp placement.cpp sami.cpp channel_writer.cpp channel_writer_second.cpp)
list(APPEND QUILLON_EXPORT_SOURCES container_writer.cpp container_channel.cpp)
