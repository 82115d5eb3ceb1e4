add_quillon_test(quillon_still_tests
  SOURCES still_dib_rows_test.cpp still_bmp_reader_test.cpp still_writer_test.cpp
    still_capture_test.cpp
  DEPS quillon_export quillon_testkit)
