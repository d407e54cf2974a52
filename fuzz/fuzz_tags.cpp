// Fuzzes the tag readers: the ID3v1 block, the ID3v2.3 frame walk and the search for the
// audio start behind a leading tag, on whatever bytes an MP3 file may hold.

#include "fuzz_input.h"
#include "mpeg/audio_start.h"
#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "tag_checks.h"
#include "tags/id3v2.h"
#include "tags/track_tags.h"

#include <clocale>

using tagrelay::ByteReader;
using tagrelay::TrackTags;
using tagrelay::fuzz::hasCleanTexts;
using tagrelay::fuzz::sameTags;

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

    // A walk that shows no cover passes the cover frames over unread: everything else alike.
    ByteReader passing(path, 1);
    TrackTags withoutCover = facts;
    withoutCover.coverFrame.clear();
    withoutCover.coverPictureStart = 0;
    if (!sameTags(withoutCover, tagrelay::readTrackTags(passing, tagrelay::TagVersions::Id3v23Only,
                                                        tagrelay::CoverBytes::PassOver)))
        tagrelay::fuzz::fail("the tags differ when the cover is passed over");

    static const bool isUtf8Locale = tagrelay::localeCodeset() == "UTF-8";
    if (isUtf8Locale && !hasCleanTexts(facts))
        tagrelay::fuzz::fail("a tag text is no clean UTF-8 in a UTF-8 locale");
    return 0;
}
