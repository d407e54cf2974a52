#include "tags/tag_text.h"

#include "platform/codepage.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace tagrelay {

namespace {

constexpr char16_t replacementCharacter = 0xFFFD;
constexpr char16_t byteOrderMark = 0xFEFF;
constexpr std::uint8_t latin1NextLine = 0x85;

/// True for the characters besides CR and LF that end a line for a reader that knows Unicode:
/// next line, line separator and paragraph separator. (The controls below 0x20 among them
/// become blanks where the description line is made.)
constexpr bool isUnicodeLineBreak(std::uint16_t unit)
{
    return unit == 0x0085 || unit == 0x2028 || unit == 0x2029;
}

/// The units with every Unicode line break as a blank, in the locale's character set.
std::string unitsToTagText(std::vector<std::uint16_t> units)
{
    std::replace_if(units.begin(), units.end(), isUnicodeLineBreak, std::uint16_t{' '});
    return utf16ToLocale(units);
}

/// Bytes up to the first zero, as a view of the same characters.
std::string_view untilFirstZero(std::span<const std::uint8_t> bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return {reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::size_t>(end - bytes.begin())};
}

/// UTF-16 units in the given order up to the first zero unit; a trailing odd byte is no unit.
std::vector<std::uint16_t> utf16Units(std::span<const std::uint8_t> bytes, bool bigEndian)
{
    std::vector<std::uint16_t> units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<std::uint16_t>(bigEndian ? (bytes[i] << 8) | bytes[i + 1]
                                                               : bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    return units;
}

/// Length of the UTF-8 sequence that starts with lead and goes on with next, or 0 when the two
/// cannot begin one (a stray continuation byte, an overlong form, a surrogate half, a code
/// point above U+10FFFF).
std::size_t utf8SequenceLength(std::uint8_t lead, std::uint8_t next)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2 || lead > 0xF4)
        return 0;
    if (lead < 0xE0)
        return 2;
    if ((lead == 0xE0 && next < 0xA0) || (lead == 0xED && next > 0x9F))
        return 0;
    if (lead < 0xF0)
        return 3;
    if ((lead == 0xF0 && next < 0x90) || (lead == 0xF4 && next > 0x8F))
        return 0;
    return 4;
}

/// UTF-8 bytes (no zero among them) as UTF-16 units; each malformed sequence gives U+FFFD.
std::vector<std::uint16_t> utf8ToUnits(std::string_view text)
{
    std::vector<std::uint16_t> units;
    units.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::uint8_t next = 0;
        if (i + 1 < text.size())
            next = static_cast<std::uint8_t>(text[i + 1]);
        const std::size_t length = utf8SequenceLength(lead, next);
        bool whole = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k)
            whole = (static_cast<std::uint8_t>(text[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            units.push_back(replacementCharacter);
            ++i;
            continue;
        }
        std::uint32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k)
            codePoint = (codePoint << 6) | (static_cast<std::uint8_t>(text[i + k]) & 0x3Fu);
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (codePoint >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(codePoint));
        }
        i += length;
    }
    return units;
}

} // namespace

std::string decodeTagText(std::uint8_t encoding, std::span<const std::uint8_t> bytes)
{
    switch (static_cast<TextEncoding>(encoding)) {
    case TextEncoding::Latin1:
        return latin1TagText(untilFirstZero(bytes));
    case TextEncoding::Utf16: {
        // Taggers write both orders, and the little-endian one is by far the more common, so
        // any mark other than FE FF is read as little-endian.
        if (bytes.size() < 2)
            return {};
        const bool bigEndian = bytes[0] == 0xFE && bytes[1] == 0xFF;
        return unitsToTagText(utf16Units(bytes.subspan(2), bigEndian));
    }
    case TextEncoding::Utf16BigEndian: {
        std::vector<std::uint16_t> units = utf16Units(bytes, true);
        // No mark belongs here, but some writers put one in; it is no character of the text.
        if (!units.empty() && units.front() == byteOrderMark)
            units.erase(units.begin());
        return unitsToTagText(std::move(units));
    }
    case TextEncoding::Utf8: {
        std::string_view text = untilFirstZero(bytes);
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        return unitsToTagText(utf8ToUnits(text));
    }
    }
    return {};
}

std::string latin1TagText(std::string_view bytes)
{
    std::string text(bytes);
    std::replace(text.begin(), text.end(), static_cast<char>(latin1NextLine), ' ');
    return latin1ToLocale(text);
}

} // namespace tagrelay
