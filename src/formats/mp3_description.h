#pragma once

#include <cstdint>
#include <string>

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

} // namespace tagrelay
