#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace tagrelay {

/// The frame of an unseen movie at a moment of its stream.
struct GateReading
{
    std::int32_t frame = 0;   // counted from the first picture, which is frame 0
    std::int64_t untilNs = 0; // the frame stays the same before this moment
    bool ended = false;       // the last picture has run its time
};

/// Lets the pictures of a movie that plays unseen through to its sink only as far as the
/// stream has been asked for, and counts them. Times are nanoseconds after the first picture.
/// The streaming thread calls pass() for each picture before the sink takes it and end() at
/// the end of the stream; the worker's thread asks readingAt() for the frame at a moment.
///
/// Because the pictures are counted by their own time stamps and the stream is held at the
/// moment asked for, a reading depends on the movie alone, never on how fast this machine
/// decodes: the same movie read at the same moments gives the same frames on every run.
class FrameGate
{
  public:
    /// Forgets the stream: the next picture is the first again. Only while nothing streams.
    void reset();
    /// Lets everything through from now on (the stream is being stopped or shown in a window).
    void open();

    /// Streaming thread: a picture with its time stamp and duration (either may be unknown,
    /// negative) arrives; waits while it lies beyond the moment asked for, unless the gate
    /// is opened. frameNs is the picture's duration by the stream's frame rate.
    void pass(std::int64_t timestampNs, std::int64_t durationNs, std::int64_t frameNs);
    /// Streaming thread: no picture follows.
    void end();

    /// Moves the stream on to the moment and waits up to waitMs for the pictures up to it.
    /// Nothing when they did not all come in time.
    std::optional<GateReading> readingAt(std::int64_t atNs, int waitMs);

  private:
    bool knowsFrameAt(std::int64_t atNs) const;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_started = false;
    std::int64_t m_firstNs = 0;
    std::int64_t m_allowedNs = 0;
    std::int64_t m_passed = 0;
    std::int64_t m_lastNs = 0;               // time of the last picture let through
    std::int64_t m_lastEndNs = 0;            // ... and of its end
    std::optional<std::int64_t> m_waitingNs; // a picture held back at the gate
    bool m_ended = false;
};

} // namespace tagrelay
