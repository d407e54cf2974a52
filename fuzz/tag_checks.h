#pragma once

// Promises of the tag readers that the tag fuzz programs check on every input.

#include "tags/id3v2.h"
#include "tags/track_tags.h"

#include <string>

namespace tagrelay::fuzz {

inline bool sameTags(const TrackTags& a, const TrackTags& b)
{
    return a == b;
}

/// True when text is UTF-8 without a zero byte, a surrogate half or a Unicode line break (next
/// line, line and paragraph separator): what a description line in a UTF-8 locale may carry (a
/// zero would cut the line for the web server that reads the list, a line break would start a
/// forged line for a reader that knows Unicode).
inline bool isCleanUtf8(const std::string& text)
{
    for (const char* lineBreak : {"\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        if (text.find(lineBreak) != std::string::npos)
            return false;
    }
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
/// kept raw on purpose): clean, and at most three bytes for each byte of the text cap.
inline bool hasCleanTexts(const TrackTags& facts)
{
    for (const std::string* text : {&facts.title, &facts.artist, &facts.album, &facts.year,
                                    &facts.linkDescription, &facts.rightsNotice}) {
        if (!isCleanUtf8(*text) || text->size() > 3 * maxTextBytes)
            return false;
    }
    return true;
}

} // namespace tagrelay::fuzz
