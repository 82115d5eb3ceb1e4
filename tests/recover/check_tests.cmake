# The check of a session: the core on sample volumes, and the command through the tool.
if(TARGET quillon_recover)
  add_quillon_test(quillon_check_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/check_images.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/check_session_test.cpp
    DEPS quillon_recover quillon_testkit quillon_storage quillon_disk quillon_platform
      quillon_sample)
endif()
