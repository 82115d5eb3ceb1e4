// The work of each fuzz target, shared by the libFuzzer entry points and the replay test that
// runs the committed seeds and regressions in the normal test build. Each function leaves no
// state, thread, file or descriptor behind, and its work is bounded whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// A disk image, sparse or raw (fuzz/harness/sparse_image.h): scan, mount every row, select every
// session, read every channel, the month scan, the day search and the three logs of the
// recorded days, and the capture images the capture log names.
int disk_image(const uint8_t* data, size_t size);

// A recording (fuzz/harness/recording.cpp): the bytes of a video channel and its audio channel
// in a recorder volume, played forward and backward by the engine and read by the stream
// reader's commands.
int recording(const uint8_t* data, size_t size);

// Records for the export writers (fuzz/harness/export_writer.cpp): the AVI writer with its
// formats, frames and audio, and the channel writer fed frames and audio at arbitrary times.
int export_writer(const uint8_t* data, size_t size);

// A BMP file (fuzz/harness/still_capture.cpp): the still capture's reader, its conversion to
// RGB rows and the JPEG writer, and our BMP writer's file read back to the same rows.
int still_capture(const uint8_t* data, size_t size);
// Frames for the display (fuzz/harness/display_frames.cpp): arbitrary frames and picture sizes
// into a channel decoder, the pictures converted to RGB.
int display_frames(const uint8_t* data, size_t size);

// Piece sizes and reads (fuzz/harness/split_raw.cpp): the split raw reader's plan of every read
// checked against a single image's bytes.
int split_raw(const uint8_t* data, size_t size);

// An E01 segment set (fuzz/harness/ewf_image.cpp): written to files, opened through our E01
// drive, described, and read in bounded pieces over the whole media.
int ewf_image(const uint8_t* data, size_t size);

// A block of a disk (fuzz/harness/carver.cpp): the carver's block parser between a begin and
// an end, its findings checked against the bytes and grouped into streams.
int carver(const uint8_t* data, size_t size);

}  // namespace fuzz
