#include "export/container_writer.h"

const char* export_format_name(ExportFormat format) {
    switch (format) {
        case ExportFormat::Mkv:
            return "mkv";
        case ExportFormat::Mp4:
            return "mp4";
        case ExportFormat::Avi:
            break;
    }
    return "avi";
}

std::optional<ExportFormat> parse_export_format(std::string_view name) {
    for (ExportFormat f : {ExportFormat::Avi, ExportFormat::Mkv, ExportFormat::Mp4}) {
        if (name == export_format_name(f)) return f;
    }
    return std::nullopt;
}
