# The record carver: the block parser, the volume walk and the grouping into streams.
list(APPEND QUILLON_RECOVER_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/carver.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/carver_areas.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/carver_block.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/carver_group.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/carver_keyframe.cpp)
