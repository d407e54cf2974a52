#pragma once

#include <QString>
#include <string>

namespace tagrelay {

/// The one way texts go into Qt: the program keeps its texts (and file names) as the bytes
/// of the locale's character set.
QString toQString(const std::string& text);

/// The one way texts come back from Qt (the folder the user chose), as the bytes the file
/// system takes for that name.
std::string fromQString(const QString& text);

} // namespace tagrelay
