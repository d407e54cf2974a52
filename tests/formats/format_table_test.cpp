#include "formats/format_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

TEST(FormatTableTest, ANameBelongsToTheFormatWhoseExtensionItEndsWithInAnyCase)
{
    const auto formatName = [](const char* fileName) -> std::string {
        const auto place = formatPlaceOf(fileName);
        return place ? std::string(fileFormats()[*place]->name()) : "-";
    };
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"song.mp3", "mp3"},
        {"SONG.MP3", "mp3"},
        {".mp3", "mp3"},
        {"a.Mp3", "mp3"},
        {"photo.jpg", "picture"},
        {"scan.BMP", "picture"},
        {"film.avi", "movie"},
        {"film.MPG", "movie"},
        {"mp3", "-"},
        {"song.mp3.txt", "-"},
        {"photo.jpeg", "more pictures"},
        {"shot.PNG", "more pictures"},
        {"phone.heic", "more pictures"},
        {"scan.tiff", "more pictures"},
        {"a.jpe", "more pictures"},
        {"a.png.ico", "-"},
        {"song.mp", "-"},
        {"notes.txt", "-"},
        {"", "-"},
        {"x.mp3 ", "-"},
        {"descript.ion", "-"},
        {"a.jpg.ico", "-"},
        {"clip.mpeg", "-"},
    };
    for (const auto& [fileName, expected] : cases)
        EXPECT_EQ(formatName(fileName), expected) << '"' << fileName << '"';
}

struct KeyCase
{
    const char* what;
    std::function<void(LineOptions&)> change;
    std::vector<std::string> changedKeys; // the formats whose key the change moves
};

/// Each format's key moves with exactly the options that shape its lines, entries and icons,
/// so a change for one kind of file leaves the others' cache entries in use.
TEST(FormatCacheKeyTest, AudioKeysMoveWithTheMp3OptionsOnlyWithTheSwitch)
{
    LineOptions base;
    base.settings.moreFormats = 1;
    const auto movedBy = [&](const std::function<void(LineOptions&)>& change) {
        LineOptions changed = base;
        change(changed);
        std::vector<std::string> moved;
        for (std::size_t i = 0; i < fileFormats().size(); ++i)
            if (fileFormats()[i]->cacheKey(changed) != fileFormats()[i]->cacheKey(base))
                moved.emplace_back(fileFormats()[i]->name());
        return moved;
    };
    const auto has = [](const std::vector<std::string>& names, const char* name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    const auto genre = movedBy([](LineOptions& o) { o.settings.showGenre = 1; });
    const auto versions = movedBy([](LineOptions& o) { o.tagVersions = TagVersions::All; });
    for (const char* audio : {"flac", "ogg", "wav", "aac"}) {
        EXPECT_TRUE(has(genre, audio)) << audio;
        // Only WAV (an id3 chunk) and ADTS (a tag in front) read ID3v2 tags.
        EXPECT_EQ(has(versions, audio), audio == std::string("wav") || audio == std::string("aac"))
            << audio;
    }
}

TEST(FormatCacheKeyTest, MovesWithTheOptionsThatShapeTheFormatsFilesOnly)
{
    const auto ticked = [](std::int32_t Settings::*flag) {
        return [flag](LineOptions& options) { options.settings.*flag = 1; };
    };
    const std::vector<KeyCase> cases = {
        {"artist", ticked(&Settings::showArtist), {"mp3", "m4a"}},
        {"album", ticked(&Settings::showAlbum), {"mp3", "m4a"}},
        {"title", ticked(&Settings::showTitle), {"mp3", "m4a"}},
        {"bitrate", ticked(&Settings::showBitrate), {"mp3", "m4a"}},
        {"audio mode", ticked(&Settings::showAudioMode), {"mp3", "m4a"}},
        {"playtime", ticked(&Settings::showPlaytime), {"mp3", "m4a"}},
        {"genre", ticked(&Settings::showGenre), {"mp3", "m4a"}},
        {"mp3 icons", ticked(&Settings::makeMp3Icons), {"mp3", "m4a"}},
        {"picture size", ticked(&Settings::showPictureSize), {"picture", "more pictures"}},
        {"picture icons", ticked(&Settings::makePictureIcons), {"picture", "more pictures"}},
        // Movies are looked up only while they are described.
        {"movie info", ticked(&Settings::showMovieInfo), {}},
        {"icon size without icons", [](LineOptions& o) { o.settings.iconSize = 40; }, {}},
        {"icon size with both icons",
         [](LineOptions& o) {
             o.settings.makeMp3Icons = o.settings.makePictureIcons = 1;
             o.settings.iconSize = 40;
         },
         {"mp3", "picture", "m4a", "more pictures"}},
        {"all tag versions", [](LineOptions& o) { o.tagVersions = TagVersions::All; }, {"mp3"}},
        {"display depth", [](LineOptions& o) { o.displayDepth = 8; }, {"picture", "more pictures"}},
        {"codeset", [](LineOptions& o) { o.codeset = "ISO-8859-1"; }, {"mp3", "m4a"}},
        {"movies on the screen", [](LineOptions& o) { o.playsMoviesOnScreen = true; }, {"movie"}},
        {"run counter and start folder",
         [](LineOptions& o) {
             o.settings.runCounter = 9;
             o.settings.startDirectory = "/elsewhere";
         },
         {}},
    };
    LineOptions base;
    base.codeset = "UTF-8";
    base.displayDepth = 32;
    base.settings.iconSize = 50;
    const std::vector<std::string> baseKeys = formatCacheKeys(base);
    ASSERT_EQ(baseKeys.size(), fileFormats().size());
    for (const KeyCase& c : cases) {
        LineOptions changed = base;
        c.change(changed);
        const std::vector<std::string> keys = formatCacheKeys(changed);
        std::vector<std::string> moved;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] != baseKeys[i])
                moved.emplace_back(fileFormats()[i]->name());
        }
        EXPECT_EQ(moved, c.changedKeys) << c.what;
    }
    LineOptions icons = base;
    icons.settings.makeMp3Icons = icons.settings.makePictureIcons = 1;
    LineOptions otherDepth = icons;
    otherDepth.displayDepth = 16;
    EXPECT_NE(formatCacheKeys(icons)[0], formatCacheKeys(otherDepth)[0])
        << "an MP3 icon is made at the screen's depth";
    LineOptions biggerIcons = icons;
    biggerIcons.settings.iconSize = 60;
    EXPECT_NE(formatCacheKeys(icons)[0], formatCacheKeys(biggerIcons)[0]);
    EXPECT_NE(formatCacheKeys(icons)[1], formatCacheKeys(biggerIcons)[1]);
}

} // namespace
} // namespace tagrelay
