// Matroska and MP4 export files through libavformat: video copied as stored, the time track
// as text captions; Matroska keeps the mu-law sound as stored, MP4 carries it as AAC-LC.
#pragma once

#include <memory>

#include "export/container_writer.h"

namespace mux {

// The factory the programs give the backup job (BackupJob::set_container); nullptr for AVI,
// which the job writes itself.
std::unique_ptr<ContainerWriter> make_container_writer(ExportFormat format);

// Keeps the container library's progress notes off standard error (errors still show): a
// command-line tool's standard error carries its own progress line.
void quiet_library_notes();

}  // namespace mux
