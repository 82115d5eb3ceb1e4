# The export of recovered runs through the channel writer, with its report.
list(APPEND QUILLON_RECOVER_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/recovered_export.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/recovered_frames.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/recovered_read.cpp)
