# The check of what a session's index promises: every stored record read and checked.
list(APPEND QUILLON_RECOVER_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/check_record.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/check_reader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/check_channel.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/check_session.cpp)
