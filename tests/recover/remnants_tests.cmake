# The remnants disks, their export and what a scan finds on them. The tests parse and decode
# what the images hold with libavcodec, independently of the code under test, and read the
# exported files back with ffmpeg.
add_quillon_test(quillon_remnants_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/remnants_fixture.cpp
    ${CMAKE_CURRENT_LIST_DIR}/remnants_sample_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/remnants_recall_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/remnants_export_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recovered_frames_test.cpp
  DEPS quillon_recover quillon_testkit quillon_sample quillon_platform PkgConfig::FFMPEG
    nlohmann_json::nlohmann_json)
