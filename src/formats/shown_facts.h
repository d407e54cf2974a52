#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// The size of the primary screen in pixels; the default stands for none.
struct ScreenSize
{
    int width = 1024;
    int height = 768;
};

/// A place on the screen in pixels.
struct ScreenPlace
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const ScreenPlace&, const ScreenPlace&) = default;
};

/// The facts of an MP3 file as the progress display shows them, right after its analysis.
struct Mp3Shown
{
    std::string name; // the entry name, without the folder
    std::string artist;
    std::string title;
    std::int16_t bitrate = 0;
    std::string genre; // the resolved genre
    std::string channelMode;
    std::string playingTime;
    std::int32_t fileCount = 0; // described so far, this file not yet counted
};

/// The texts a described movie shows, by the field they go to.
struct MovieRows
{
    std::string filename;    // field 1: "Filename: " + the entry name
    std::string size;        // field 2: the size text, height first
    std::string fps;         // field 3: "fps: " + the rounded rate, plausible or not
    std::string blank = " "; // fields 4, 16 and 5
    std::string playingTime; // field 6: "M:SS min", or "xx:xx min" without a plausible rate
    std::string fileCount;   // field 7: "Filecount: " + the count, this movie included
    std::string preview;     // the preview list: the description as written
};

} // namespace tagrelay
