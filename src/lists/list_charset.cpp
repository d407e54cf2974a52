#include "lists/list_charset.h"

#include "lists/list_line.h"
#include "lists/list_merge.h"
#include "platform/codepage.h"
#include "platform/terminal_text.h"

#include <algorithm>
#include <optional>

namespace tagrelay {

namespace {

/// The longest character of the sets the locales use (UTF-8, GB18030).
constexpr std::size_t longestCharacter = 4;

/// The description in UTF-8, each run of bytes that are no text of the locale's set as one
/// "?". A text is converted whole when it can be; only a failing one is taken apart, a word
/// at a time, and a failing word character by character (the shortest run of bytes at a place
/// that converts), so a long tag costs a few conversions.
std::string descriptionInUtf8(std::string_view text, bool& changed)
{
    if (const std::optional<std::string> whole = exactLocaleToUtf8(text))
        return *whole;
    changed = true;
    std::string out;
    bool lastWasMark = false;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t blank = text.find(' ', start);
        const std::size_t end = blank == std::string_view::npos ? text.size() : blank + 1;
        const std::string_view word = text.substr(start, end - start);
        start = end;
        if (const std::optional<std::string> converted = exactLocaleToUtf8(word)) {
            out += *converted;
            lastWasMark = false;
            continue;
        }
        for (std::size_t i = 0; i < word.size();) {
            std::optional<std::string> character;
            std::size_t length = 0;
            while (!character && length < longestCharacter && i + length < word.size())
                character = exactLocaleToUtf8(word.substr(i, ++length));
            if (character) {
                out += *character;
                i += length;
            } else {
                if (!lastWasMark)
                    out += '?';
                ++i;
            }
            lastWasMark = !character;
        }
    }
    return out;
}

} // namespace

bool isUtf8Line(std::string_view bytes)
{
    if (bytes.ends_with('\n'))
        bytes.remove_suffix(1);
    if (bytes.ends_with('\r'))
        bytes.remove_suffix(1);
    if (bytes.ends_with("\x04\xC2"))
        bytes.remove_suffix(2);
    return isWellFormedUtf8(bytes);
}

ListForm chooseListForm(ListCharset asked, std::string_view oldList, bool staysUtf8,
                        CharsetNotes& notes)
{
    // A list that says it is UTF-8 gets UTF-8 whatever was asked: lines in another set behind
    // its signature would be misread by every reader that heeds it.
    if (oldList.starts_with(utf8ByteOrderMark))
        return {true, true};
    if (asked == ListCharset::Locale)
        return {false, false};
    if (!staysUtf8) {
        notes.keptOthersCharset = true;
        return {false, false};
    }
    return {true, asked == ListCharset::Utf8WithSignature};
}

std::string linesInUtf8(std::string_view lines, CharsetNotes& notes)
{
    std::string out;
    for (const ListLine& line : splitList(lines)) {
        const std::string name(line.name);
        const std::optional<std::string> utf8Name = exactLocaleToUtf8(line.name);
        // A name the locale's set writes as a control character can become one of the line
        // breaks of Unicode (ISO-8859-1's 0x85 is U+0085).
        if (!utf8Name || !isWritableName(*utf8Name)) {
            notes.unwritableNames.push_back(name);
            continue;
        }
        bool changed = false;
        out += descriptionLine(*utf8Name, descriptionInUtf8(line.description, changed));
        if (changed)
            notes.changedDescriptions.push_back(name);
    }
    return out;
}

} // namespace tagrelay
