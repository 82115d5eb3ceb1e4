add_quillon_test(quillon_mux_writer_tests
  SOURCES parameter_sets_test.cpp aac_track_test.cpp
  DEPS quillon_mux quillon_sample PkgConfig::MUX_FFMPEG)

add_quillon_test(quillon_container_channel_tests
  SOURCES container_channel_test.cpp
  DEPS quillon_export quillon_testkit)

# Exports through the tool in each format, read back with libavformat and FFmpeg's and
# GStreamer's tools.
add_quillon_test(quillon_export_formats_tests
  SOURCES cli_formats_test.cpp media_probe.cpp ${PROJECT_SOURCE_DIR}/tests/tools/cli_runner.cpp
  DEPS quillon_testkit quillon_sample nlohmann_json::nlohmann_json PkgConfig::MUX_FFMPEG)
add_dependencies(quillon_export_formats_tests quillon-cli)
