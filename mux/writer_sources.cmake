set(QUILLON_MUX_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/parameter_sets.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/aac_track.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/container_file.cpp)
