#include "platform/terminal_text.h"

#include <array>
#include <cstdint>

namespace tagrelay {

namespace {

/// Appends "\x" and two hexadecimal digits, or "\u" and four.
void appendEscape(std::string& out, std::uint32_t value, int digitCount)
{
    constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    out += digitCount == 2 ? "\\x" : "\\u";
    for (int shift = 4 * (digitCount - 1); shift >= 0; shift -= 4)
        out += digits[(value >> shift) & 0xF];
}

bool isControlByte(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F;
}

/// Characters a terminal obeys or that reorder the rest of the line: the C1 controls and the
/// bidirectional embeddings, overrides and isolates.
bool isEscapedCodePoint(std::uint32_t codePoint)
{
    return (codePoint >= 0x80 && codePoint <= 0x9F) || (codePoint >= 0x202A && codePoint <= 0x202E)
           || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

/// Length of the well-formed UTF-8 sequence at the start of text (lead byte 0x80 or above), or
/// 0 when it is none: a stray continuation byte, an overlong form, a surrogate half, a code
/// point above U+10FFFF or a sequence cut short.
std::size_t utf8SequenceLength(std::string_view text)
{
    const auto byteAt = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(0);
    const std::size_t length = lead < 0xC2   ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byteAt(k) & 0xC0) != 0x80)
            return 0;
    }
    const unsigned char next = byteAt(1);
    if ((lead == 0xE0 && next < 0xA0) || (lead == 0xED && next > 0x9F)
        || (lead == 0xF0 && next < 0x90) || (lead == 0xF4 && next > 0x8F))
        return 0;
    return length;
}

std::uint32_t utf8CodePoint(std::string_view sequence)
{
    std::uint32_t codePoint = static_cast<unsigned char>(sequence[0]) & (0x7Fu >> sequence.size());
    for (std::size_t k = 1; k < sequence.size(); ++k)
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(sequence[k]) & 0x3Fu);
    return codePoint;
}

std::string utf8TerminalText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (isControlByte(byte))
                appendEscape(out, byte, 2);
            else
                out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text.substr(i));
        if (length == 0) {
            appendEscape(out, byte, 2);
            ++i;
            continue;
        }
        const std::string_view sequence = text.substr(i, length);
        const std::uint32_t codePoint = utf8CodePoint(sequence);
        if (isEscapedCodePoint(codePoint))
            appendEscape(out, codePoint, 4);
        else
            out += sequence;
        i += length;
    }
    return out;
}

} // namespace

bool isWellFormedUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string terminalText(std::string_view text, bool utf8)
{
    if (utf8)
        return utf8TerminalText(text);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControlByte(byte) || (byte >= 0x80 && byte <= 0x9F))
            appendEscape(out, byte, 2);
        else
            out += c;
    }
    return out;
}

} // namespace tagrelay
