list(APPEND QUILLON_EXPORT_SOURCES avimaker.cpp backup_job.cpp)
list(APPEND QUILLON_EXPORT_SOURCES export_report.cpp export_report_file.cpp)
list(APPEND QUILLON_EXPORT_SOURCES gop_sources.cpp side_file_write.cpp)
