// Fuzzes the tag readers: the ID3v1 block, the ID3v2.3 frame walk and the search for the
// audio start behind a leading tag, on whatever bytes an MP3 file may hold.

#include "fuzz_input.h"
#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "tags/audio_start.h"
#include "tags/id3v2.h"
#include "tags/track_facts.h"

#include <clocale>

namespace {

using tagrelay::ByteReader;
using tagrelay::TrackTags;

bool sameTags(const TrackTags& a, const TrackTags& b)
{
    return a.title == b.title && a.artist == b.artist && a.album == b.album && a.year == b.year
           && a.genre == b.genre && a.linkDescription == b.linkDescription
           && a.rightsNotice == b.rightsNotice && a.track == b.track && a.genreName == b.genreName
           && a.coverFrame == b.coverFrame;
}

/// True when text is UTF-8 without a zero byte or a surrogate half: what a description line in a
/// UTF-8 locale may carry (a zero would cut the line for the web server that reads the list).
bool isCleanUtf8(const std::string& text)
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
        // ED A0..BF would be a UTF-16 surrogate half, which no UTF-8 text may hold.
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

/// The fields whose texts come from converted tag text (the ID3v1 genre and track bytes are
/// kept raw on purpose).
bool hasCleanTexts(const TrackTags& facts)
{
    for (const std::string* text : {&facts.title, &facts.artist, &facts.album, &facts.year,
                                    &facts.linkDescription, &facts.rightsNotice}) {
        if (!isCleanUtf8(*text))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // The texts are converted to the locale's character set, as in the programs: LC_ALL picks
    // the conversion under test (C.UTF-8 for the UTF-8 path, C for the iconv fallback).
    std::setlocale(LC_ALL, "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tagrelay::fuzz::InputFile input;
    const std::string& path = input.hold(data, size);

    ByteReader wide(path);
    const TrackTags facts = tagrelay::readTrackTags(wide);
    const std::int64_t audioStart = tagrelay::findAudioStart(wide);
    if (audioStart != -1 && (audioStart < 0 || audioStart + 2 > static_cast<std::int64_t>(size)))
        tagrelay::fuzz::fail("the audio start lies outside the file");

    // The same reads through the smallest read window: every field and frame then straddles
    // window edges, and any difference is a fault of the reader's window handling.
    ByteReader narrow(path, 1);
    const TrackTags narrowFacts = tagrelay::readTrackTags(narrow);
    if (!sameTags(facts, narrowFacts))
        tagrelay::fuzz::fail("the tags differ with a narrow read window");
    if (tagrelay::findAudioStart(narrow) != audioStart)
        tagrelay::fuzz::fail("the audio start differs with a narrow read window");

    static const bool isUtf8Locale = tagrelay::localeCodeset() == "UTF-8";
    if (isUtf8Locale && !hasCleanTexts(facts))
        tagrelay::fuzz::fail("a tag text is no clean UTF-8 in a UTF-8 locale");
    return 0;
}
