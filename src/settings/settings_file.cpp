#include "settings/settings_file.h"

#include "platform/byte_reader.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tagrelay {

namespace {

/// The eight MP3 flags, in file order (bytes 0..31).
template <typename AnySettings> auto mp3Flags(AnySettings& settings)
{
    return std::array{&settings.showArtist,  &settings.showAlbum,     &settings.showTitle,
                      &settings.showBitrate, &settings.showAudioMode, &settings.showPlaytime,
                      &settings.showGenre,   &settings.makeMp3Icons};
}

/// The picture and movie flags, in file order (bytes 32..43).
template <typename AnySettings> auto otherFlags(AnySettings& settings)
{
    return std::array{&settings.showPictureSize, &settings.showMovieInfo,
                      &settings.makePictureIcons};
}

/// A flag is written as 0 or 1 whatever value it held.
std::int32_t flagValue(std::int32_t flag)
{
    return flag != 0 ? 1 : 0;
}

/// The options beyond the thirteen fields, in file order behind the extra options' mark.
template <typename AnySettings> auto extraFlags(AnySettings& settings)
{
    return std::array{&settings.moreFormats, &settings.allTagVersions};
}

/// What comes between the start directory and the extra options: a zero byte, where every
/// reader of the directory stops, then a mark of their own.
constexpr std::string_view extraOptionsMark{"\0TRX1", 5};

bool endsStoredDirectory(std::uint8_t byte)
{
    return byte == 0 || byte == '\r' || byte == '\n';
}

/// A flag as read: 0 or 1 as stored, anything else not ticked.
std::int32_t checkedFlag(std::int32_t stored)
{
    return stored == 1 ? 1 : 0;
}

/// An icon size as read: within the range of the "-" and "+" buttons, else the default. A
/// size far above it would make every icon cost seconds and gigabytes.
std::int32_t checkedIconSize(std::int32_t stored)
{
    return stored >= smallestIconSize && stored <= largestIconSize ? stored : defaultIconSize;
}

} // namespace

bool readSettings(Settings& settings, const std::string& path)
{
    ByteReader file(path);
    if (!file.isOpen())
        return false;
    const auto readInteger = [&file] {
        return static_cast<std::int32_t>(file.readU32LittleEndian());
    };
    for (std::int32_t* flag : mp3Flags(settings))
        *flag = checkedFlag(readInteger());
    for (std::int32_t* flag : otherFlags(settings))
        *flag = checkedFlag(readInteger());
    settings.iconSize = checkedIconSize(readInteger());
    settings.runCounter = readInteger();
    settings.startDirectory.clear();
    std::uint8_t end = '\n';
    while (!file.atEnd()) {
        const std::uint8_t byte = file.readU8();
        if (endsStoredDirectory(byte)) {
            end = byte;
            break;
        }
        if (settings.startDirectory.size() < maxStoredDirectoryLength)
            settings.startDirectory += static_cast<char>(byte);
    }
    bool marked = end == 0;
    for (std::size_t i = 1; marked && i < extraOptionsMark.size(); ++i)
        marked = !file.atEnd() && file.readU8() == static_cast<std::uint8_t>(extraOptionsMark[i]);
    for (std::int32_t* flag : extraFlags(settings))
        *flag = marked ? checkedFlag(readInteger()) : 0;
    return true;
}

SettingsWriter::SettingsWriter(const std::string& path) : m_file(path, WriteMode::CreateOrTruncate)
{
}

bool SettingsWriter::writeMp3Flags(const Settings& settings)
{
    bool wrote = true;
    for (const std::int32_t* flag : mp3Flags(settings))
        wrote = m_file.writeI32LittleEndian(flagValue(*flag)) && wrote;
    return wrote;
}

bool SettingsWriter::writeRestAndClose(const Settings& settings)
{
    bool wrote = true;
    for (const std::int32_t* flag : otherFlags(settings))
        wrote = m_file.writeI32LittleEndian(flagValue(*flag)) && wrote;
    wrote = m_file.writeI32LittleEndian(settings.iconSize) && wrote;
    wrote = m_file.writeI32LittleEndian(settings.runCounter) && wrote;
    wrote = m_file.write(settings.startDirectory) && wrote;
    // Only a file with an extra option ticked has them, so every other file keeps the layout
    // of the thirteen fields and the directory to its end.
    const auto flags = extraFlags(settings);
    if (std::any_of(flags.begin(), flags.end(),
                    [](const std::int32_t* flag) { return *flag != 0; })) {
        wrote = m_file.write(extraOptionsMark) && wrote;
        for (const std::int32_t* flag : flags)
            wrote = m_file.writeI32LittleEndian(flagValue(*flag)) && wrote;
    }
    return m_file.close() && wrote;
}

bool applyRunCounter(Settings& settings)
{
    if (settings.runCounter > 9)
        settings.runCounter = 1;
    ++settings.runCounter;
    if (settings.runCounter != 9)
        return false;
    settings.runCounter = 1;
    return true;
}

} // namespace tagrelay
