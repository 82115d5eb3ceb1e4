// Disk descriptions written as JSON, for the command line and for scripted test images.
//
//   {"total_sectors": 262144, "layout": "partitioned",
//    "partitions": [{"type_byte": 240, "bootable": true, "start": 2048, "count": 131072,
//                    "area": {"kind": "recorder", "recorder": {"version": 18}}}]}
//
// Every field is optional and keeps the DiskSpec default when left out or null. Field names
// follow the structs in sample.h; enumerations are lower-case words ("partitioned", "bare",
// "ms"; "recorder", "backup", "empty"; "middle", "pointer"). An area without "kind" takes the
// kind of its only "recorder" or "backup" member. A recorder volume or a session may carry
// "content": {"channels": [{"channel": 3, "writes": [{"time": ..., "text": "..."}]}]}, with a
// write's bytes given as "text" or as "bytes": [0, 255, ...]. Unknown fields are refused, so
// that a misspelt damage switch cannot silently build an undamaged disk.
#pragma once

#include <string>

#include "tools/sample/sample.h"

namespace sample {

// Fills *out from the JSON text: 0 on success; -1 with a message that names the offending
// field (for example "partitions[1].area.recorder.version: expected an unsigned 32-bit
// integer"), in which case *out is left as it was.
int spec_from_json(const std::string& text, DiskSpec* out, std::string* error);

}  // namespace sample
