#pragma once

#include "frame_gate.h"
#include "gst_handles.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tagrelay {

/// What a load found out about a movie.
struct MovieFacts
{
    std::int32_t width = -1; // -1: no picture stream
    std::int32_t height = -1;
    std::int64_t length = 0; // frames
};

/// A picture copied for the program.
struct PictureCopy
{
    std::uint32_t sequence = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::int64_t timestampNs = 0;
};

/// One reading of a playing movie.
struct MovieReading
{
    std::int32_t frame = 0;   // -1 while paused; 0 when stopped or ended
    std::int64_t clockMs = 0; // the picture's position, from the movie's start
    std::int64_t untilMs = 0; // unseen: the frame holds before this moment; 0: unknown
    bool ended = false;
    std::string failure; // why the movie stopped playing before its end, if it did
    /// Shown: the picture newly copied into the picture buffer, if one was.
    std::optional<PictureCopy> picture;
};

/// One movie in a playbin pipeline. Loading prerolls it on fake sinks that never wait for the
/// clock. Played unseen, the pictures pass a gate that holds the stream at the moment last
/// asked for, and frames are counted as the pictures that passed, by their own time stamps.
/// Played to be shown, the movie moves to sinks that render on time (the pictures into an
/// application sink as 32-bit pixels at the movie's size, the sound to the sound card), and
/// frames are counted as the picture's position times the frame rate of its caps; each status
/// copies the newest picture, if a new one came, into the program's picture buffer. Either way time
/// runs from the stream's first picture (an MPEG program stream starts half a second or so in).
class MoviePlayer
{
  public:
    MoviePlayer() = default;
    ~MoviePlayer() { free(); }
    MoviePlayer(const MoviePlayer&) = delete;
    MoviePlayer& operator=(const MoviePlayer&) = delete;

    /// The movie's facts, or why it is no movie that plays in full. Takes the open file (a
    /// regular file, read at any offset, never by name) and closes it when the movie is freed.
    std::variant<MovieFacts, std::string> load(int file);
    /// Plays from the start: in real time when shown, its pictures copied into the picture
    /// buffer when one is given (a shared memory file of the program's, taken and closed
    /// here; at least the movie's size), else as fast as it decodes. False with no movie
    /// loaded or when the pipeline refuses to play.
    bool play(bool shown, int pictureBuffer);
    /// The reading at a moment of the stream (ms after its first picture) when the movie plays
    /// unseen, else now. Stops the movie when it has ended or failed.
    MovieReading status(std::int64_t atMs);
    void stop();
    void free();

  private:
    /// Waits for the pipeline to preroll; empty on success, else the reason.
    std::string awaitPreroll(int timeoutMs);
    /// The picture's position in nanoseconds, or -1.
    std::int64_t positionNs();
    /// Takes the end of the movie from the bus, if it came (with its failure, if it failed).
    bool takeEnding(MovieReading& reading);
    MovieReading unseenStatus(std::int64_t atMs);
    /// Streaming thread: each picture and event on its way to the unseen video sink.
    static GstPadProbeReturn onUnseenPicture(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    /// The application sink a shown movie's pictures go to.
    ElementPtr pictureSink();
    /// Copies the newest picture into the picture buffer, if a new one came.
    std::optional<PictureCopy> copyNewPicture();
    void releasePictureBuffer();
    /// The player's source: the application source, reading the file at any offset.
    static void onSourceSetup(GstElement* player, GstElement* source, gpointer self);
    static void onNeedData(GstAppSrc* source, guint length, gpointer self);
    static gboolean onSeekData(GstAppSrc* source, guint64 offset, gpointer self);

    int m_file = -1;
    std::uint64_t m_fileSize = 0;
    std::atomic<std::uint64_t> m_readOffset{0}; // where the source reads next
    ElementPtr m_pipeline;
    BusPtr m_bus;
    ElementPtr m_videoSink; // the sink the picture goes to at present
    bool m_hasVideo = false;
    std::int32_t m_rateNumerator = 0;
    std::int32_t m_rateDenominator = 1;
    std::int64_t m_startNs = 0;
    bool m_playing = false;
    bool m_shown = false;
    std::uint8_t* m_pictures = nullptr; // the program's picture buffer, mapped to write
    std::size_t m_pictureBytes = 0;
    std::uint32_t m_pictureSequence = 0;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    FrameGate m_gate;
    std::atomic<std::int64_t> m_frameNs{0}; // one picture's time by the stream's frame rate
};

} // namespace tagrelay
