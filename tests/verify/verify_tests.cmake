add_quillon_test(quillon_verify_tests
  SOURCES export_fixture.cpp frame_hash_test.cpp verify_command_test.cpp gop_record_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/tools/cli_runner.cpp
  DEPS quillon_verify quillon_export quillon_testkit quillon_sample quillon_storage quillon_disk
    quillon_platform nlohmann_json::nlohmann_json)
