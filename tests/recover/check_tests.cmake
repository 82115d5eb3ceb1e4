# The check of a session: the core on sample volumes, and the command through the tool.
if(TARGET quillon_recover)
  add_quillon_test(quillon_check_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/check_images.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/check_session_test.cpp
    DEPS quillon_recover quillon_testkit quillon_storage quillon_disk quillon_platform
      quillon_sample)
endif()

# The command through the tool itself.
if(TARGET quillon-cli)
  add_quillon_test(quillon_check_cli_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/tools/cli_runner.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/check_images.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/check_cli_test.cpp
    DEPS quillon_testkit quillon_sample quillon_platform nlohmann_json::nlohmann_json)
  add_dependencies(quillon_check_cli_tests quillon-cli)
endif()
