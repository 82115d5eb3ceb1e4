add_quillon_test(quillon_avi_tests
  SOURCES avi_riff_test.cpp avi_refusal_test.cpp avi_ffmpeg_test.cpp
  DEPS quillon_export quillon_testkit quillon_sample nlohmann_json::nlohmann_json)
