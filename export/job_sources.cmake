list(APPEND QUILLON_EXPORT_SOURCES avimaker.cpp backup_job.cpp)
list(APPEND QUILLON_EXPORT_SOURCES export_report.cpp export_report_file.cpp)
# The report's case data, the recorder's clock and zone, the streams of each file, the digests.
list(APPEND QUILLON_EXPORT_SOURCES export_case.cpp export_report_case.cpp export_stream.cpp
  file_hasher.cpp recorder_zone.cpp backup_job_hash.cpp sami_corrected.cpp)
list(APPEND QUILLON_EXPORT_SOURCES gop_sources.cpp side_file_write.cpp)
