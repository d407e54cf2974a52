#pragma once

#include "lists/list_charset.h"
#include "platform/directory.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// One line of a description list, read as the programs that read the lists read it (web file
/// servers, file managers).
struct ListLine
{
    /// The file the line describes: between the first two double quotes when the line starts
    /// with one, else up to the first blank or the line's end. Empty when the line names no
    /// file: an empty line, or a double quote that is never closed.
    std::string_view name;
    /// Behind the name and the one blank after it, up to the line end.
    std::string_view description;
    /// The whole line as stored, its line end (LF or CR LF) included; the last line of a list
    /// may have none.
    std::string_view bytes;
};

/// The UTF-8 byte-order mark some editors put in front of a list; it belongs to no line.
inline constexpr std::string_view utf8ByteOrderMark = "\xEF\xBB\xBF";

/// Splits a list into its lines. A line ends at LF (a CR before it is part of the line end,
/// any other CR is text); a UTF-8 byte-order mark in front is skipped. The multi-line form
/// of the web file server (a description holding "\n" escapes and ending in the bytes 0x04
/// 0xC2) is one line like any other. The views point into list.
[[nodiscard]] std::vector<ListLine> splitList(std::string_view list);

/// Whether new lines of 8-bit text can go into the list: false for a list holding a zero byte
/// (lines in UTF-16, or no list at all), which would be spoiled by them.
[[nodiscard]] bool isEightBitList(std::string_view list);

/// The lines the walk wrote for one entry of a folder that it described to its end.
struct EntryLines
{
    std::size_t entry = 0; // the entry's place in the folder's listing
    std::string lines;     // whole lines with their CR LF; empty when the walk wrote none
};

/// Answers whether a name that was not in the folder's listing is an entry of the folder now.
using ExistsNow = std::function<bool(const std::string& name)>;

/// Asked now and then during a long merge: true when the walk is to stop at once.
using StopAsked = std::function<bool()>;

/// The renewed list of a folder. Going through the entries in their listing order, an entry
/// the walk described gets its new lines in place of its old ones; every other entry (a file
/// of a kind the walk leaves alone, a sub-folder, an entry the walk did not reach) keeps its
/// old lines byte for byte, in their old order. Old lines naming a file that is not in the
/// listing follow at the end when existsNow says the folder holds it now (it came during the
/// walk); other old lines are dropped. Names are compared byte for byte. A kept line without
/// a line end (the old list's last) gets CR LF, or LF behind a CR. A UTF-8 byte-order mark of the
/// old list stays in front of a list that is not empty, and one is put in front of a list whose
/// first line starts with those bytes, so that readers read the line as before. The mark is
/// never put anywhere but in front.
///
/// The walk's lines are in the locale's set; they go in as chooseListForm decides for this
/// list and the charset asked (converted with linesInUtf8, the signature put in front), and
/// notes, when given, say what could not be done. Kept lines are never converted.
///
/// \returns nothing when the old list cannot take lines of 8-bit text (see isEightBitList), or
/// when stopAsked said to stop (it is asked only on lists of many thousand lines).
[[nodiscard]] std::optional<std::string>
mergeList(std::string_view oldList, std::span<const DirectoryEntry> entries,
          std::span<const EntryLines> described, const ExistsNow& existsNow,
          ListCharset asked = ListCharset::Locale, CharsetNotes* notes = nullptr,
          const StopAsked& stopAsked = {});

} // namespace tagrelay
