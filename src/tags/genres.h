#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tagrelay {

/// The ID3v1 genre names by genre byte 0..147: the original list and its later extensions,
/// with the spellings the description lines show ("Jazz Funk", "Techno -Industrial",
/// "A Capella").
inline constexpr std::array<std::string_view, 148> genreTable = {
    // clang-format off
    // 0..9
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal",
    // 10..19
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    // 20..29
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient",
    "Trip-Hop", "Vocal", "Jazz Funk",
    // 30..39
    "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise",
    // 40..49
    "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic",
    // 50..59
    "Darkwave", "Techno -Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta",
    // 60..69
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes",
    // 70..79
    "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock",
    // 80..89
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival",
    "Celtic", "Bluegrass",
    // 90..99
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock",
    "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    // 100..109
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass",
    "Primus", "Porn Groove",
    // 110..119
    "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle",
    // 120..129
    "Duet", "Punk Rock", "Drum Solo", "A Capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass",
    "Club-House", "Hardcore",
    // 130..139
    "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap",
    "Heavy Metal", "Black Metal", "Crossover",
    // 140..147
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime",
    "JPop", "Synthpop",
    // clang-format on
};

/// The genre table's name for an ID3v1 genre number, or the empty text for a number outside
/// 0..147 (255 is the usual mark for "no genre").
[[nodiscard]] std::string_view genreNameFor(int number);

/// The genre a TCON text stands for when it refers to the genre table: "(17)", "17" and
/// "(17)(18)" give the name of the first number ("Rock"), "RX" and "CR" (also in parentheses)
/// give "Remix" and "Cover", and a refinement behind the references wins ("(17)Hard Rock" gives
/// "Hard Rock"; a refinement that itself opens with a parenthesis is written "((" and gives
/// one). Any other text, and a number the table lacks, comes back unchanged.
[[nodiscard]] std::string nameNumberedGenre(std::string_view text);

} // namespace tagrelay
