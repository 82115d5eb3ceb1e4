find_package(ZLIB REQUIRED)
add_quillon_test(quillon_verify_tests
  SOURCES export_fixture.cpp frame_hash_test.cpp verify_command_test.cpp gop_record_test.cpp
    gop_sources_test.cpp ${PROJECT_SOURCE_DIR}/tests/tools/cli_runner.cpp
  DEPS quillon_verify quillon_export quillon_testkit quillon_sample quillon_storage quillon_disk
    quillon_platform nlohmann_json::nlohmann_json)
add_dependencies(quillon_verify_tests quillon-cli)

add_quillon_test(quillon_verify_container_tests
  SOURCES verify_containers_test.cpp ${PROJECT_SOURCE_DIR}/tests/tools/cli_runner.cpp
    ${PROJECT_SOURCE_DIR}/tests/tools/container_images.cpp
  DEPS quillon_testkit quillon_sample nlohmann_json::nlohmann_json ZLIB::ZLIB)
add_dependencies(quillon_verify_container_tests quillon-cli)
