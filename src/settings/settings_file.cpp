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

/// An option beyond the thirteen fields and the largest value it takes.
template <typename Field> struct ExtraOption
{
    Field* field;
    std::int32_t largest;
};

/// The options beyond the thirteen fields, in file order behind the extra options' mark. New
/// ones go at the end: a file written before them ends early, and a missing value reads as 0.
template <typename Field, typename AnySettings> auto extraOptions(AnySettings& settings)
{
    return std::array{ExtraOption<Field>{&settings.moreFormats, 1},
                      ExtraOption<Field>{&settings.allTagVersions, 1},
                      ExtraOption<Field>{&settings.listEncoding, largestListEncoding},
                      ExtraOption<Field>{&settings.htmlIndex, 1}};
}

/// An extra option as written: a flag as 0 or 1, a choice as stored when it is one.
std::int32_t writtenValue(const ExtraOption<const std::int32_t>& option)
{
    if (option.largest == 1)
        return *option.field != 0 ? 1 : 0;
    return *option.field >= 0 && *option.field <= option.largest ? *option.field : 0;
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
    for (const auto& option : extraOptions<std::int32_t>(settings)) {
        const std::int32_t stored = marked ? readInteger() : 0;
        *option.field = stored >= 0 && stored <= option.largest ? stored : 0;
    }
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
    const auto options = extraOptions<const std::int32_t>(settings);
    if (std::any_of(options.begin(), options.end(),
                    [](const auto& option) { return writtenValue(option) != 0; })) {
        wrote = m_file.write(extraOptionsMark) && wrote;
        for (const auto& option : options)
            wrote = m_file.writeI32LittleEndian(writtenValue(option)) && wrote;
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
