#pragma once

#include <cstdint>
#include <functional>

namespace tagrelay {

class ByteReader;

/// Called once for every counted audio frame during a scan (and now and then during a long
/// stretch of headers that count for nothing), with the bytes done so far and the file's
/// size; returns false to stop the scan at once.
using ScanProgress = std::function<bool(std::int64_t bytesDone, std::int64_t bytesTotal)>;

/// What the frame-by-frame scan found.
struct StreamScan
{
    /// kbit/s: the common bitrate of a CBR file, the average of a VBR file, 0 when no frame
    /// was counted, -1 when no audio start was found.
    std::int16_t bitrate = 0;
    bool isVbr = false;
    /// Frames whose length ran past the end of the file (a cut or damaged file).
    std::int32_t framesPastEnd = 0;
    /// True when the scan went on to the end of the frames; false when it ended early (a CBR
    /// stream decided by its first frames, no audio start, or a stop).
    bool walkedToEnd = false;
    /// True when the progress callback asked to stop.
    bool stopped = false;
    /// Samples of the counted frames, and the sampling rate of the first: the playing time of
    /// the frames walked.
    std::int64_t samples = 0;
    std::int32_t sampleRate = 0;
    /// A CBR stream only: true when no frame of the stream ends where the audio ends (the
    /// file's end, or the tags behind the frames), so that the last frame runs past the end of
    /// a cut file or the frames stop before it. Told from the end of the file alone.
    bool missesAudioEnd = false;
};

/// Walks the MP3 file frame by frame from the audio start and decides CBR or VBR. An
/// encoder's information frame at the audio start is passed over. A VBR stream is walked to
/// its end, over junk between its frames (a gap of zeros, a damaged stretch): the walk goes on
/// at the next frame findFrameFrom finds.
[[nodiscard]] StreamScan scanStream(ByteReader& file, const ScanProgress& progress);

/// scanStream for an audio start already found (FrameFacts::audioStart of the first frame).
[[nodiscard]] StreamScan scanStreamFrom(ByteReader& file, std::int64_t audioStart,
                                        const ScanProgress& progress);

} // namespace tagrelay
