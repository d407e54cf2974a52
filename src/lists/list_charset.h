#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// The character set asked for the walk's own lines of a list.
enum class ListCharset {
    Locale,            // the locale's set, as the lists have always been written
    Utf8,              // UTF-8
    Utf8WithSignature, // UTF-8, with the signature (the byte-order mark) in front of the list
};

/// What the walk's lines became on their way into a list, for the list of files with errors.
struct CharsetNotes
{
    /// The list holds lines of others that are not UTF-8 and has no signature: the walk's
    /// lines went in in the locale's set, and no signature was put in front.
    bool keptOthersCharset = false;
    /// Files whose line was left out: a name that is no text of the locale's set, or that a
    /// reader of UTF-8 would take for two lines.
    std::vector<std::string> unwritableNames;
    /// Files whose description held bytes that are no text of the locale's set: they were
    /// written as "?".
    std::vector<std::string> changedDescriptions;
};

/// Whether a line of a list is UTF-8 (ASCII included) as its readers take it: the mark HFS ends
/// its multi-line descriptions with (the bytes 0x04 0xC2 before the line end) is no text.
[[nodiscard]] bool isUtf8Line(std::string_view bytes);

/// How the walk writes its lines into one list.
struct ListForm
{
    bool utf8 = false;      // the walk's lines are converted to UTF-8
    bool signature = false; // a list that is not empty starts with the signature
};

/// The form of a renewed list, from the charset asked for, the old list and whether the lines
/// of it that stay (others' lines, and those of entries the walk did not reach) are all UTF-8
/// (ASCII included). A list with a signature is UTF-8, whatever was asked, and keeps it (on a
/// UTF-8 system the locale's lines are its lines). Otherwise the locale's set writes the list
/// as always, the walk's lines as they are. Asked for UTF-8, a list without a signature gets
/// the walk's lines in UTF-8 (and the signature, when asked) only when the lines that stay are
/// UTF-8 too, since a signature in front of lines in another set would have every reader that
/// heeds it misread them. Otherwise the list stays in its set: the walk's lines in the
/// locale's, no signature, and notes.keptOthersCharset set.
[[nodiscard]] ListForm chooseListForm(ListCharset asked, std::string_view oldList, bool staysUtf8,
                                      CharsetNotes& notes);

/// The walk's lines for one entry (whole lines as descriptionLine makes them, in the locale's
/// set) in UTF-8. A line whose name cannot be written in UTF-8 is left out and its name noted;
/// a description's bytes that are no text of the locale's set become "?" and the name is
/// noted.
[[nodiscard]] std::string linesInUtf8(std::string_view lines, CharsetNotes& notes);

} // namespace tagrelay
