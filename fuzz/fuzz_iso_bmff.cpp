// Fuzzes the ISO base media box reader (MP4, M4A, MOV): boxes nested, cut, claiming 64-bit
// sizes or running to the end, tables and fragment runs whose counts lie, tags and covers,
// and the durations and rates the rows make of what it read.

#include "containers/iso_bmff.h"
#include "formats/exact_duration.h"
#include "formats/mp4_format.h"
#include "fuzz_input.h"
#include "platform/byte_reader.h"

#include <cstddef>
#include <cstdint>

namespace {

bool sameFacts(const tagrelay::IsoFacts& a, const tagrelay::IsoFacts& b)
{
    if (a.tracks.size() != b.tracks.size())
        return false;
    for (std::size_t i = 0; i < a.tracks.size(); ++i) {
        const tagrelay::IsoTrack& x = a.tracks[i];
        const tagrelay::IsoTrack& y = b.tracks[i];
        if (x.handler != y.handler || x.width != y.width || x.height != y.height
            || x.isTurned != y.isTurned || x.mediaDuration != y.mediaDuration
            || x.editDuration != y.editDuration || x.sampleCount != y.sampleCount
            || x.sampleBytes != y.sampleBytes || x.sizesEqual != y.sizesEqual
            || x.fragmentDuration != y.fragmentDuration || x.channels != y.channels
            || x.sampleRate != y.sampleRate)
            return false;
    }
    return a.isIsoFile == b.isIsoFile && a.hasMovie == b.hasMovie && a.isCut == b.isCut
           && a.hitLimit == b.hitLimit && a.movieDuration == b.movieDuration
           && a.fragmentDuration == b.fragmentDuration && a.artist == b.artist && a.album == b.album
           && a.title == b.title && a.genre == b.genre && a.genreNumber == b.genreNumber
           && a.priming == b.priming && a.padding == b.padding;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tagrelay;
    static fuzz::InputFile input;
    const std::string& path = input.hold(data, size);
    ByteReader file(path);
    const IsoFacts facts = readIsoFile(file, IsoCover::Keep);
    if (facts.tracks.size() > isoMaxTracks)
        fuzz::fail("more tracks than the limit");
    if (static_cast<std::int64_t>(facts.cover.size()) > isoMaxCoverBytes
        || static_cast<std::int64_t>(facts.cover.size()) > static_cast<std::int64_t>(size))
        fuzz::fail("a cover larger than the limit or the file");
    for (const std::string* text : {&facts.artist, &facts.album, &facts.title, &facts.genre}) {
        if (static_cast<std::int64_t>(text->size()) > isoMaxTagBytes)
            fuzz::fail("a tag text longer than the limit");
    }
    for (const IsoTrack& track : facts.tracks) {
        if (track.sampleCount < 0 || track.sampleBytes < 0 || track.fragmentDuration < 0
            || track.editDuration < 0 || track.mediaDuration < 0)
            fuzz::fail("a count or duration below zero");
        if (const auto duration = isoTrackDuration(facts, track)) {
            if (duration->ticks <= 0 || duration->scale <= 0)
                fuzz::fail("a duration given that is not positive");
            if (roundedRate(track.sampleCount, *duration) < 0
                || truncatedKilobitRate(track.sampleBytes, *duration) < 0
                || roundedSeconds(*duration) < 0)
                fuzz::fail("a rate or time below zero");
            (void)containerMovieDescription(track.width, track.height, track.sampleCount,
                                            *duration);
        }
    }
    // The smallest window and the cover passed over give the same facts.
    ByteReader small(path, 16);
    const IsoFacts again = readIsoFile(small, IsoCover::PassOver);
    if (!sameFacts(facts, again) || !again.cover.empty())
        fuzz::fail("the facts differ with another window or without the cover");
    return 0;
}
