list(APPEND QUILLON_EXPORT_SOURCES avi_file.cpp avi_buffer.cpp avi_header.cpp avi_index.cpp new_file.cpp)
