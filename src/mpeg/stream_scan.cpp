#include "mpeg/stream_scan.h"

#include "mpeg/audio_start.h"
#include "mpeg/bitrate_tables.h"
#include "mpeg/frame_header.h"
#include "mpeg/header_bits.h"
#include "mpeg/info_frame.h"
#include "mpeg/stream_end.h"
#include "platform/byte_reader.h"

namespace tagrelay {

namespace {

/// A stream whose first 100 counted frames share one bitrate is taken as CBR without reading
/// further.
constexpr std::int32_t cbrFrameLimit = 100;

/// Headers looked at without a counted frame between two progress calls: a long stretch of
/// headers that time nothing still reaches the caller, who may want to stop.
constexpr std::int32_t uncountedHeaderLimit = 64 * 1024;

/// What a header leaves open is taken from the frames before it: free-format bitrate bits
/// keep the earlier index, reserved version or layer bits the earlier bitrate (and the frame
/// length rule that goes with it), reserved version bits the earlier rate.
struct CarriedValues
{
    int bitrateIndex = 0;
    std::int16_t bitrate = 0;
    std::int32_t rate = 0;
    MpegVersion version = MpegVersion::Reserved; // of the table that gave the bitrate
    MpegLayer layer = MpegLayer::Reserved;
};

struct FrameValues
{
    std::int16_t bitrate = 0;
    std::int32_t rate = 0;
    std::int64_t length = 0;
    bool endsScan = false; // the reserved sampling rate: the stream is not to be trusted after it
};

FrameValues decodeFrame(HeaderBytes header, CarriedValues& carried)
{
    if (bitrateIndexOf(header) != 0)
        carried.bitrateIndex = bitrateIndexOf(header);
    const MpegVersion version = versionOf(header);
    const MpegLayer layer = layerOf(header);
    if (hasBitrateTable(version, layer)) {
        carried.version = version;
        carried.layer = layer;
        carried.bitrate = bitrateFor(version, layer, carried.bitrateIndex);
    }
    FrameValues frame;
    if (isKnownVersion(version)) {
        const std::int32_t rate = sampleRateFor(version, sampleRateIndexOf(header));
        if (rate == 0)
            frame.endsScan = true;
        else
            carried.rate = rate;
    }
    frame.bitrate = carried.bitrate;
    frame.rate = carried.rate;
    frame.length = frameLength(carried.version, carried.layer, carried.bitrate, carried.rate,
                               paddingOf(header));
    return frame;
}

std::int16_t averageOf(std::int64_t sum, std::int32_t count)
{
    return count > 0 ? static_cast<std::int16_t>(sum / count) : 0;
}

/// Moves the position to the next frame behind a header that does not time its frame; false
/// when there is none.
bool resumeAtNextFrame(ByteReader& file, std::int64_t badHeaderStart)
{
    const std::int64_t next = findFrameFrom(file, badHeaderStart + 1);
    if (next < 0)
        return false;
    file.seek(next);
    return true;
}

/// The end check of a CBR stream whose first audio frame had header `stream`.
void checkAudioEnd(ByteReader& file, HeaderBytes stream, StreamScan& scan)
{
    scan.missesAudioEnd = !hasLastFrameAt(file, audioEndOf(file), stream);
}

} // namespace

StreamScan scanStream(ByteReader& file, const ScanProgress& progress)
{
    return scanStreamFrom(file, findAudioStart(file), progress);
}

StreamScan scanStreamFrom(ByteReader& file, std::int64_t audioStart, const ScanProgress& progress)
{
    StreamScan scan;
    if (audioStart < 0) {
        scan.bitrate = -1;
        return scan;
    }
    file.seek(audioStart);

    CarriedValues carried;
    std::int32_t count = 0;
    std::int64_t sum = 0;
    std::int16_t previous = 0;
    std::int32_t uncounted = 0;
    HeaderBytes firstAudio;
    for (;;) {
        if (++uncounted >= uncountedHeaderLimit) {
            uncounted = 0;
            if (progress && !progress(file.position(), file.size())) {
                scan.stopped = true;
                scan.bitrate = averageOf(sum, count);
                return scan;
            }
        }
        const std::int64_t frameStart = file.position();
        const HeaderBytes header = headerBytesOf(file.readU32BigEndian());
        if (!hasFrameSync(header)) {
            if (scan.isVbr && resumeAtNextFrame(file, frameStart))
                continue;
            break;
        }
        const bool isInfoFrame =
            frameStart == audioStart && isEncoderInfoFrame(file, frameStart, header);
        CarriedValues notCarried = carried;
        const FrameValues frame = decodeFrame(header, isInfoFrame ? notCarried : carried);
        if (frame.rate == 0) {
            // Nothing to time this header by: the next one is looked for right behind it.
            if (frame.endsScan || file.atEnd())
                break;
            continue;
        }
        if (frame.bitrate <= 0 || frame.length <= 0) {
            // Free format or a forbidden index: no length to walk by.
            if (scan.isVbr && resumeAtNextFrame(file, frameStart))
                continue;
            break;
        }

        if (!isInfoFrame) {
            uncounted = 0;
            ++count;
            sum += frame.bitrate;
            if (count == 1) {
                firstAudio = header;
                scan.sampleRate = frame.rate;
            }
            scan.samples += samplesPerFrame(carried.version, carried.layer);
            if (progress && !progress(file.position(), file.size())) {
                scan.stopped = true;
                scan.bitrate = averageOf(sum, count);
                return scan;
            }
        }

        const std::int64_t next = frameStart + frame.length;
        if (next > file.size())
            ++scan.framesPastEnd;
        else
            file.seek(next);

        if (!isInfoFrame && !scan.isVbr) {
            if (previous > 0 && previous != frame.bitrate) {
                scan.isVbr = true;
            } else if (count >= cbrFrameLimit) {
                scan.bitrate = frame.bitrate;
                checkAudioEnd(file, firstAudio, scan);
                return scan;
            }
            previous = frame.bitrate;
        }
        if (frame.endsScan || file.atEnd())
            break;
    }
    scan.walkedToEnd = true;
    scan.bitrate = averageOf(sum, count);
    if (!scan.isVbr && count > 0)
        checkAudioEnd(file, firstAudio, scan);
    return scan;
}

} // namespace tagrelay
