// Fuzzes the escaping of texts for the terminal on whatever a file name or a tag may hold.

#include "fuzz_input.h"
#include "platform/terminal_text.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

/// True when text is well-formed UTF-8 holding no control a terminal obeys and no
/// bidirectional control; false at the first thing that is not.
bool isHarmlessUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x20 || lead == 0x7F)
            return false;
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        const bool overlong =
            (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
        if (overlong || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF
            || (codePoint >= 0x80 && codePoint <= 0x9F)
            || (codePoint >= 0x202A && codePoint <= 0x202E)
            || (codePoint >= 0x2066 && codePoint <= 0x2069))
            return false;
        i += length;
    }
    return true;
}

bool isHarmlessSingleByte(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || (byte >= 0x7F && byte <= 0x9F))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool utf8 : {true, false}) {
        const std::string shown = tagrelay::terminalText(text, utf8);
        if (utf8 ? !isHarmlessUtf8(shown) : !isHarmlessSingleByte(shown))
            tagrelay::fuzz::fail("a control reaches the terminal");
        // The longest escape, "\xNN", takes four characters for one byte.
        if (shown.size() > 4 * size)
            tagrelay::fuzz::fail("the shown text is more than four times as long");
        // What is shown holds nothing to escape, so escaping it again changes nothing.
        if (tagrelay::terminalText(shown, utf8) != shown)
            tagrelay::fuzz::fail("escaping the shown text again changed it");
    }
    return 0;
}
