list(APPEND QUILLON_EXPORT_SOURCES
  still_common.cpp still_bmp_reader.cpp still_dib_rows.cpp still_bmp_writer.cpp
  still_jpeg_writer.cpp still_capture_folder.cpp)
