// Fuzzes the MPEG frame readers: the first frame header and the walk over the frame stream
// that decides CBR or VBR, with the progress display and the error list of a walk behind them.

#include "fuzz_input.h"
#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "platform/byte_reader.h"

namespace {

using tagrelay::ByteReader;

/// What one file's frame readers found, to compare two reads of the same bytes.
struct FrameResult
{
    std::int32_t header = 0;
    std::int16_t bitrate = 0;
    std::uint8_t isVbr = 0;
    std::int64_t audioStart = 0;
    std::int64_t audioBytes = 0;
    std::int32_t sampleRate = 0;
    std::int32_t framesPastEnd = 0;
    std::int64_t samples = 0;
    std::int32_t scanRate = 0;
    bool missesAudioEnd = false;

    friend bool operator==(const FrameResult&, const FrameResult&) = default;
};

/// Reads the file as the walk does for an MP3 file with the bitrate shown: one reader for the
/// header and the scan, the progress bar and error list in a window that keeps no history.
FrameResult readFrames(const std::string& path, std::size_t readWindow)
{
    ByteReader file(path, readWindow);
    FrameResult result;
    const tagrelay::FirstFrame first = tagrelay::readFrameHeader(file);
    std::int64_t lastDone = -1;
    const tagrelay::StreamScan scan =
        tagrelay::scanStream(file, [&](std::int64_t done, std::int64_t total) {
            if (done <= lastDone || done > total)
                tagrelay::fuzz::fail("the scan's progress does not move forward inside the file");
            lastDone = done;
            return true;
        });
    result.header = first.result;
    result.bitrate = scan.bitrate;
    result.isVbr = scan.isVbr ? 1 : 0;
    result.audioStart = first.facts.audioStart;
    result.audioBytes = first.facts.audioBytes;
    result.sampleRate = first.facts.sampleRate;
    result.framesPastEnd = scan.framesPastEnd;
    result.samples = scan.samples;
    result.scanRate = scan.sampleRate;
    result.missesAudioEnd = scan.missesAudioEnd;

    if (result.header < -1 || result.header > 1)
        tagrelay::fuzz::fail("the frame header result is not -1, 0 or 1");
    if (result.bitrate < -1 || result.bitrate > 448)
        tagrelay::fuzz::fail("the stream bitrate is out of every table's range");
    if (scan.samples < 0 || scan.samples > (file.size() / 4 + 2) * 1152 || scan.sampleRate < 0
        || scan.sampleRate > 48000 || (scan.samples > 0) != (scan.sampleRate > 0))
        tagrelay::fuzz::fail("the frames' samples or rate are out of range");
    if (first.foundAudioStart && first.result != 1)
        tagrelay::fuzz::fail("the audio start found holds no frame header that times the stream");
    if (scan.missesAudioEnd && scan.isVbr)
        tagrelay::fuzz::fail("the end check of a CBR stream ran on a VBR one");
    if (scan.stopped)
        tagrelay::fuzz::fail("the scan stopped although it was never asked to");
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tagrelay::fuzz::InputFile input;
    const std::string& path = input.hold(data, size);

    const FrameResult wide = readFrames(path, tagrelay::mpegReadWindow);
    // Through the smallest read window every header straddles window edges; any difference
    // is a fault of the reader's window handling.
    if (readFrames(path, 1) != wide)
        tagrelay::fuzz::fail("the frame readers differ with a narrow read window");
    return 0;
}
