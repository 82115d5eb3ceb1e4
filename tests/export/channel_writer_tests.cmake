add_quillon_test(quillon_channel_writer_tests
  SOURCES placement_test.cpp sami_test.cpp channel_writer_second_test.cpp
    channel_writer_ring_test.cpp channel_writer_file_test.cpp
  DEPS quillon_export quillon_testkit quillon_sample nlohmann_json::nlohmann_json)
