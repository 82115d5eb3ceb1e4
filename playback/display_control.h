// The video display as the main window sees it: one method per call the window makes. The
// window never reaches the display in any other way, so that the display can be replaced (the
// Qt widget in the program, a recording fake in tests). Every method is called on the UI thread
// except frame(), which the playback thread calls with the playback lock held.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What frame() carries.
enum class DisplayFrameKind : int32_t {
    Video = 0,
    Audio = 1,
    // A video frame to decode, for the frames after it, without showing its picture.
    Preroll = 2,
};

// Where a tile's label and time go: the recorder's own on-screen text is often under one of
// them.
enum class OverlayPlace : int32_t { Top = 0, Bottom = 1, Hidden = 2 };

// Layout channel that keeps the channels in their order.
inline constexpr int32_t kDisplayAllChannels = -1;
// Volume range of set_volume(); 0 mutes.
inline constexpr int32_t kDisplayVolumeMax = 15;

class DisplayControl {
public:
    virtual ~DisplayControl() = default;

    // The main window that hosts the display; once at start-up.
    virtual void set_owner(uintptr_t window) = 0;
    // The product name shown by the display; once at start-up. The result is not used.
    virtual int32_t set_title(std::string_view title) = 0;
    // The program's version text; once at start-up. The result is not used.
    virtual int32_t set_version(std::string_view version) = 0;
    // Set-up at start-up; the window passes (3, 0). Their meaning is the display's own.
    virtual void set_up(int32_t first, int32_t second) = 0;

    // Split layout: `splits` is 1, 4, 9 or 16. With kDisplayAllChannels the channels fill the
    // tiles in order; with a channel number (1 split) that channel is the one shown.
    virtual void set_layout(int32_t channel, int32_t splits) = 0;
    // The channel the user selected in the display.
    virtual int32_t selected_channel() const = 0;

    // One video frame or audio block. `data` is valid only during the call: the display copies
    // what it needs and returns at once, since the engine's pacing counts the time spent here.
    // `seconds` and `milliseconds` are the recorder time of the frame. `picture_size` is
    // (width << 16) | height on a key frame and 0 on every other frame and on audio. `channel`
    // is the video channel 0..15 or the audio channel 0..3.
    virtual void frame(const uint8_t* data, uint32_t seconds, uint32_t milliseconds,
                       DisplayFrameKind kind, uint32_t length, uint32_t picture_size,
                       int32_t channel) = 0;
    // Drops every queued frame and every picture shown; before every reposition, mode change
    // and export.
    virtual void clear() = 0;
    // Audio volume 0..kDisplayVolumeMax; 0 mutes.
    virtual void set_volume(int32_t volume) = 0;
    // Writes the selected channel's picture to `path`. 0 when the file holds the picture,
    // negative when there was no picture or the file could not be written.
    virtual int32_t capture(const std::string& path) = 0;

    // How the tiles show their label and the picture's recorder time: the window's time format
    // (0..5, as its clock) and the place. A display without overlays ignores both.
    virtual void set_time_format(int32_t /*format*/) {}
    virtual void set_overlay_place(OverlayPlace /*place*/) {}

    // The two calls made when the export dialog closes; the window passes (0, 0) and
    // (0, 0, 0, "", 0, 0, 0). Their meaning is the display's own.
    virtual void export_closed(int32_t first, int32_t second) = 0;
    virtual int32_t export_closed_reset(int32_t a, int32_t b, int32_t c, std::string_view text,
                                        int32_t d, int32_t e, int32_t f) = 0;
};
