#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tagrelay {

struct Settings;
struct TrackFacts;

/// The genre shown for a file: an ID3v1 genre byte (a one-byte genre) shows the genre table's
/// name, or a single blank when the byte has none; any other genre text stands as stored.
std::string resolveGenre(const TrackFacts& facts);

/// "M:SS min" for the audio bytes at the bitrate (kbit/s); " ? " for a negative total; empty
/// when the bitrate or the sampling rate is not positive.
std::string formPlayingTime(std::int64_t audioBytes, std::int32_t bitrate, std::int32_t sampleRate);

/// "M:SS min" for the samples of a stream's frames at the sampling rate, the seconds cut
/// toward zero; empty when the rate is not positive.
std::string formFramesPlayingTime(std::int64_t samples, std::int32_t sampleRate);

/// "M:SS min" for whole seconds: minutes unpadded, seconds in two digits; " ? " below zero.
std::string playingTimeText(std::int64_t total);

/// The description of an MP3 file: the ticked pieces in their fixed order (artist, album,
/// title, bitrate with CBR/VBR, channel mode, playing time, genre), each behind " - ", less the
/// leading separator.
std::string composeDescription(const TrackFacts& facts, const Settings& settings,
                               const std::string& genreText, const std::string& playingTime);

/// The decimal value with "0" put in front when it has one digit: 7 gives 07, 12 gives 12.
std::string twoDigitText(std::int64_t value);

/// "H:MM:SS" for the seconds since start, both single-precision seconds.
std::string elapsedClockText(float nowSeconds, float startSeconds);

/// "H:MM:SS Time elapsed", as the progress display shows it.
std::string elapsedTimeText(float nowSeconds, float startSeconds);

/// False for a file name the list format cannot hold: one with a double quote, or a character
/// a reader of the list could take for a line break (CR, LF, VT, FF, U+001C-001E, and in UTF-8
/// U+0085, U+2028 and U+2029).
bool isWritableName(std::string_view name);

/// One line of a description file: the quoted name, a blank, the description and CR LF.
/// Control characters in the description (a line break in a tag) become blanks, so a tag can
/// never start a line of its own.
std::string descriptionLine(std::string_view name, std::string_view description);

} // namespace tagrelay
