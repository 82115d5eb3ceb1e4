list(APPEND QUILLON_VERIFY_SOURCES media_input.cpp frame_hash.cpp)
list(APPEND QUILLON_VERIFY_SOURCES gop_record.cpp sources_list.cpp)
list(APPEND QUILLON_VERIFY_SOURCES image_check.cpp report_check.cpp)
