// Fuzzes the readers behind --all-tag-versions: the ID3v2.2 and ID3v2.4 frame walks (with
// unsynchronisation, extended headers and data-length indicators), the text decoding of all
// four encodings, the PIC to APIC conversion and the naming of numbered genres.

#include "fuzz_input.h"
#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "tag_checks.h"
#include "tags/genres.h"
#include "tags/id3v2.h"
#include "tags/id3v2_versions.h"
#include "tags/picture_frame.h"
#include "tags/tag_text.h"
#include "tags/track_tags.h"

#include <algorithm>
#include <clocale>
#include <string_view>

namespace {

using tagrelay::ByteReader;
using tagrelay::TagVersions;
using tagrelay::TrackTags;
using tagrelay::fuzz::hasCleanTexts;
using tagrelay::fuzz::isCleanUtf8;
using tagrelay::fuzz::sameTags;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // LC_ALL picks the conversion under test (C.UTF-8 for the UTF-8 path, C for iconv).
    std::setlocale(LC_ALL, "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tagrelay::fuzz::InputFile input;
    const std::string& path = input.hold(data, size);
    const std::span<const std::uint8_t> bytes(data, size);

    ByteReader wide(path);
    const TrackTags facts = tagrelay::readTrackTags(wide, TagVersions::All);
    ByteReader narrow(path, 1);
    if (!sameTags(facts, tagrelay::readTrackTags(narrow, TagVersions::All)))
        tagrelay::fuzz::fail("the tags differ with a narrow read window");
    ByteReader passing(path, 1);
    TrackTags withoutCover = facts;
    withoutCover.coverFrame.clear();
    withoutCover.coverPictureStart = 0;
    if (!sameTags(withoutCover, tagrelay::readTrackTags(passing, TagVersions::All,
                                                        tagrelay::CoverBytes::PassOver)))
        tagrelay::fuzz::fail("the tags differ when the cover is passed over");
    if (!facts.coverFrame.empty()
        && (!tagrelay::isFrontCoverFrame(facts.coverFrame)
            || facts.coverFrame.size() > tagrelay::maxCoverFrameBytes + 16
            || !std::ranges::equal(facts.coverPicture(),
                                   tagrelay::frontCoverPicture(facts.coverFrame))))
        tagrelay::fuzz::fail("the cover is no front-cover frame within the cap");

    static const bool isUtf8Locale = tagrelay::localeCodeset() == "UTF-8";
    if (isUtf8Locale && !hasCleanTexts(facts))
        tagrelay::fuzz::fail("a tag text is no clean UTF-8 in a UTF-8 locale");

    // The pure helpers on the raw bytes as well.
    if (size > 0 && isUtf8Locale
        && !isCleanUtf8(tagrelay::decodeTagText(data[0] & 3, bytes.subspan(1))))
        tagrelay::fuzz::fail("a decoded text is no clean UTF-8");
    if (tagrelay::undoUnsynchronisation(bytes).size() > size)
        tagrelay::fuzz::fail("undoing unsynchronisation made the bytes longer");
    const auto apic = tagrelay::picFrameAsApic(bytes);
    if (!apic.empty() && apic.size() > size + 16)
        tagrelay::fuzz::fail("the PIC frame grew by more than its MIME type");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (tagrelay::nameNumberedGenre(text).size() > std::max<std::size_t>(size, 32))
        tagrelay::fuzz::fail("a genre name grew beyond the table's longest name");
    return 0;
}
