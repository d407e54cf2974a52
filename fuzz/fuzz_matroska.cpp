// Fuzzes the Matroska reader: EBML headers, Segments and Clusters of known and unknown size,
// elements nested, cut or claiming more than the file holds, track entries and laced blocks,
// on any bytes.

#include "containers/matroska_reader.h"
#include "fuzz_input.h"

#include <cstddef>
#include <cstdint>

namespace {

bool sameFacts(const tagrelay::MatroskaFacts& a, const tagrelay::MatroskaFacts& b)
{
    const bool sameVideo =
        a.video.has_value() == b.video.has_value()
        && (!a.video
            || (a.video->number == b.video->number && a.video->pixelWidth == b.video->pixelWidth
                && a.video->pixelHeight == b.video->pixelHeight
                && a.video->defaultDurationNs == b.video->defaultDurationNs));
    return sameVideo && a.docType == b.docType && a.timestampScale == b.timestampScale
           && a.frames == b.frames && a.blocksEndNs == b.blocksEndNs && a.durationNs == b.durationNs
           && a.trouble == b.trouble && a.troubleText == b.troubleText;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using tagrelay::MatroskaTrouble;
    static tagrelay::fuzz::InputFile input;
    const std::string& path = input.hold(data, size);
    tagrelay::ByteReader file(path);
    const tagrelay::MatroskaFacts facts = tagrelay::readMatroska(file);
    if ((facts.trouble == MatroskaTrouble::None) != facts.troubleText.empty())
        tagrelay::fuzz::fail("trouble comes with its text, and only trouble");
    if (facts.trouble == MatroskaTrouble::NotMatroska && (facts.video || facts.frames != 0))
        tagrelay::fuzz::fail("facts of a file that is no Matroska file");
    if (facts.frames < 0 || facts.timestampScale <= 0 || facts.durationNs.value_or(0) < 0)
        tagrelay::fuzz::fail("a fact out of its range");
    if (facts.video && (facts.video->pixelWidth < 0 || facts.video->pixelHeight < 0))
        tagrelay::fuzz::fail("a negative picture size");
    // Each block of a frame or more takes five bytes at least.
    if (facts.frames > static_cast<std::int64_t>(size) * 256)
        tagrelay::fuzz::fail("more frames than the bytes can hold");
    // The windows of the byte reader must not show through.
    tagrelay::ByteReader small(path, 16);
    if (!sameFacts(facts, tagrelay::readMatroska(small)))
        tagrelay::fuzz::fail("another read window gives other facts");
    return 0;
}
