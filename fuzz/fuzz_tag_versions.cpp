// Fuzzes the readers behind --all-tag-versions: the ID3v2.2 and ID3v2.4 frame walks (with
// unsynchronisation, extended headers and data-length indicators), the text decoding of all
// four encodings, the PIC to APIC conversion and the naming of numbered genres.

#include "fuzz_input.h"
#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "tags/genres.h"
#include "tags/id3v2.h"
#include "tags/id3v2_versions.h"
#include "tags/tag_text.h"
#include "tags/track_facts.h"

#include <clocale>
#include <string_view>

namespace {

using tagrelay::ByteReader;
using tagrelay::TagVersions;
using tagrelay::TrackTags;

bool sameTags(const TrackTags& a, const TrackTags& b)
{
    return a.title == b.title && a.artist == b.artist && a.album == b.album && a.year == b.year
           && a.genre == b.genre && a.linkDescription == b.linkDescription
           && a.rightsNotice == b.rightsNotice && a.track == b.track && a.genreName == b.genreName
           && a.coverFrame == b.coverFrame;
}

/// True when text is UTF-8 without a zero byte or a surrogate half.
bool isCleanUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead == 0)
            return false;
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        if (lead == 0xED && static_cast<unsigned char>(text[i + 1]) >= 0xA0)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

/// The texts converted from tag text (the ID3v1 genre and track bytes stay raw on purpose,
/// and a genre text may be one of them). A converted text is at most three bytes a character.
bool hasCleanTexts(const TrackTags& facts)
{
    for (const std::string* text : {&facts.title, &facts.artist, &facts.album, &facts.year,
                                    &facts.linkDescription, &facts.rightsNotice}) {
        if (!isCleanUtf8(*text) || text->size() > 3 * tagrelay::maxTextBytes)
            return false;
    }
    return true;
}

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
    if (!facts.coverFrame.empty()
        && (!tagrelay::isFrontCoverFrame(facts.coverFrame)
            || facts.coverFrame.size() > tagrelay::maxCoverFrameBytes + 16))
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
