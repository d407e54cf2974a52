// Fuzzes the settings file reader on whatever a damaged or foreign brelvoka.ini may hold.

#include "fuzz_input.h"
#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tagrelay::fuzz::InputFile input;
    const std::string& path = input.hold(data, size);

    tagrelay::Settings settings;
    settings.startDirectory = "left over";
    if (!tagrelay::readSettings(settings, path))
        tagrelay::fuzz::fail("an existing regular file was not read");
    const std::string& directory = settings.startDirectory;
    if (directory.size() > tagrelay::maxStoredDirectoryLength)
        tagrelay::fuzz::fail("the start directory is longer than the limit");
    if (directory.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        tagrelay::fuzz::fail("the start directory holds its own terminator");
    if (size <= 52 && !directory.empty())
        tagrelay::fuzz::fail("a start directory was read from a file without one");
    for (const std::int32_t flag :
         {settings.showArtist, settings.showAlbum, settings.showTitle, settings.showBitrate,
          settings.showAudioMode, settings.showPlaytime, settings.showGenre, settings.makeMp3Icons,
          settings.showPictureSize, settings.showMovieInfo, settings.makePictureIcons}) {
        if (flag != 0 && flag != 1)
            tagrelay::fuzz::fail("a flag is neither 0 nor 1");
    }
    if (settings.iconSize < tagrelay::smallestIconSize
        || settings.iconSize > tagrelay::largestIconSize)
        tagrelay::fuzz::fail("the icon size is outside the buttons' range");
    return 0;
}
