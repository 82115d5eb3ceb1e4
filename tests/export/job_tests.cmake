add_quillon_test(quillon_backup_job_tests
  SOURCES backup_job_test.cpp
  DEPS quillon_export quillon_testkit quillon_storage quillon_disk quillon_platform quillon_sample)
add_quillon_test(quillon_new_file_tests
  SOURCES new_files_test.cpp
  DEPS quillon_export quillon_testkit quillon_storage)
add_quillon_test(quillon_report_case_tests
  SOURCES report_case_test.cpp
  DEPS quillon_export quillon_testkit quillon_storage nlohmann_json::nlohmann_json)
