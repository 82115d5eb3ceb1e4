# The record carver: its block parser and plan on made-up bytes, and whole scans of sample
# volumes with old records planted outside the stored ranges.
add_quillon_test(quillon_carver_tests
  SOURCES carver_records.cpp carver_block_test.cpp carver_plan_test.cpp carver_volume_test.cpp
  DEPS quillon_recover quillon_testkit quillon_sample)

# quillon-cli recover itself.
add_quillon_test(quillon_carver_cli_tests
  SOURCES carver_cli_test.cpp ${PROJECT_SOURCE_DIR}/tests/tools/cli_runner.cpp
  DEPS quillon_testkit nlohmann_json::nlohmann_json)
add_dependencies(quillon_carver_cli_tests quillon-cli)
