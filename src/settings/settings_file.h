#pragma once

#include "platform/file_writer.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tagrelay {

/// The settings file, relative to the current working directory.
inline constexpr const char* settingsFileName = "brelvoka.ini";

/// The longest start directory kept from the settings file. Longer texts are cut here, so a
/// damaged file without any line end cannot make the program hold it all in memory.
inline constexpr std::size_t maxStoredDirectoryLength = 4096;

/// Reads the settings file: thirteen 32-bit little-endian integers in field order, then the
/// start directory up to the first zero byte, carriage return, line feed or the end of the
/// file. Behind a zero byte there may follow the mark "TRX1" and the extra options
/// (moreFormats, allTagVersions, listEncoding, htmlIndex) as more integers; a file without
/// them, or ending before one, has them off (listEncoding Locale). A file
/// that ends inside an integer gives its missing high-order bytes as 0; integers wholly past the
/// end read as 0 and the directory as empty.
///
/// Values this program never writes are not used: a flag other than 0 or 1 reads as 0 (not
/// ticked), a list encoding other than a ListEncoding as Locale, an icon size outside
/// smallestIconSize..largestIconSize as defaultIconSize, so a damaged or planted file can neither
/// switch options on nor make icons of any size.
///
/// \returns false when the file cannot be opened (missing, unreadable, not a regular file);
/// then no field is touched. On true every field was replaced.
[[nodiscard]] bool readSettings(Settings& settings, const std::string& path = settingsFileName);

/// Writes the settings file in two halves around the folder dialog, because the chosen
/// directory and the run counter are known only afterwards. The first half empties the file
/// at once, so its old content is gone while the dialog is shown. When the file cannot be
/// created every write is a silent no-op: the run goes on without saved settings.
class SettingsWriter
{
  public:
    explicit SettingsWriter(const std::string& path = settingsFileName);

    bool isOpen() const { return m_file.isOpen(); }
    /// Creates the file's first half: the eight MP3 flags (bytes 0..31).
    bool writeMp3Flags(const Settings& settings);
    /// Writes the picture and movie flags, iconSize, runCounter and startDirectory (bytes 32
    /// to the end, the directory without terminator) and closes the file. When an extra
    /// option is on, a zero byte, "TRX1" and the extra options follow the directory, where a
    /// reader of the thirteen fields and the directory does not look.
    bool writeRestAndClose(const Settings& settings);

  private:
    FileWriter m_file;
};

/// Counts a started run: a counter above 9 starts again at 1, then it grows by one; on
/// reaching 9 the thank-you window is due and the counter goes back to 1.
///
/// \returns true when the thank-you window is due for this run.
[[nodiscard]] bool applyRunCounter(Settings& settings);

} // namespace tagrelay
