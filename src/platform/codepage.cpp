#include "platform/codepage.h"

#include "platform/terminal_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <string>
#include <vector>

namespace tagrelay {

namespace {

bool isUtf8Codeset(const std::string& codeset)
{
    return codeset == "UTF-8" || codeset == "utf8" || codeset == "UTF8";
}

bool isLatin1Codeset(const std::string& codeset)
{
    return codeset == "ISO-8859-1" || codeset == "ISO8859-1" || codeset == "LATIN1";
}

bool isAsciiCodeset(const std::string& codeset)
{
    return codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII";
}

void appendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

/// One iconv conversion from UTF-32 to the locale's set, opened again when the locale changed.
class CodePointEncoder
{
  public:
    ~CodePointEncoder() { reset(); }

    /// Appends the locale's form of codePoint to out, or "?" when the set lacks it.
    void append(std::string& out, char32_t codePoint, const std::string& codeset)
    {
        if (codeset != m_codeset) {
            reset();
            m_codeset = codeset;
            m_handle = ::iconv_open((codeset + "//TRANSLIT").c_str(), "UTF-32LE");
        }
        if (m_handle == reinterpret_cast<iconv_t>(-1)) {
            out += codePoint < 0x80 ? static_cast<char>(codePoint) : '?';
            return;
        }
        char input[4] = {static_cast<char>(codePoint & 0xFF),
                         static_cast<char>((codePoint >> 8) & 0xFF),
                         static_cast<char>((codePoint >> 16) & 0xFF),
                         static_cast<char>((codePoint >> 24) & 0xFF)};
        char output[32];
        char* in = input;
        char* outPtr = output;
        std::size_t inLeft = sizeof input;
        std::size_t outLeft = sizeof output;
        ::iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        const std::size_t result = ::iconv(m_handle, &in, &inLeft, &outPtr, &outLeft);
        if (result == static_cast<std::size_t>(-1) || inLeft != 0 || outPtr == output) {
            out += '?';
            return;
        }
        out.append(output, static_cast<std::size_t>(outPtr - output));
    }

  private:
    void reset()
    {
        if (m_handle != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(m_handle);
        m_handle = reinterpret_cast<iconv_t>(-1);
        m_codeset.clear();
    }

    iconv_t m_handle = reinterpret_cast<iconv_t>(-1);
    std::string m_codeset;
};

void appendCodePoint(std::string& out, char32_t codePoint, const std::string& codeset)
{
    // One conversion per thread: the walk reads tags on several threads at once.
    thread_local CodePointEncoder encoder;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (isUtf8Codeset(codeset)) {
        appendUtf8(out, codePoint);
    } else if (isLatin1Codeset(codeset) && codePoint < 0x100) {
        out += static_cast<char>(codePoint);
    } else {
        encoder.append(out, codePoint, codeset);
    }
}

} // namespace

std::string localeCodeset()
{
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr ? std::string(codeset) : std::string("ANSI_X3.4-1968");
}

std::string utf16ToLocale(std::span<const std::uint16_t> units)
{
    const std::string codeset = localeCodeset();
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00
            && units[i + 1] <= 0xDFFF) {
            const char32_t low = units[++i];
            appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), codeset);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            out += '?';
        } else {
            appendCodePoint(out, unit, codeset);
        }
    }
    return out;
}

std::string latin1ToLocale(std::string_view bytes)
{
    const std::string codeset = localeCodeset();
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes)
        appendCodePoint(out, static_cast<unsigned char>(byte), codeset);
    return out;
}

namespace {

/// The text in the locale's set as UTF-8. A byte sequence that is no character of the set
/// becomes U+FFFD, or with exact fails the whole text.
std::optional<std::string> convertedToUtf8(std::string_view text, bool exact)
{
    const std::string codeset = localeCodeset();
    if (isUtf8Codeset(codeset) || (exact && isAsciiCodeset(codeset))) {
        if (exact && !isWellFormedUtf8(text))
            return std::nullopt;
        return std::string(text);
    }
    std::string out;
    if (isLatin1Codeset(codeset)) {
        for (const char byte : text)
            appendUtf8(out, static_cast<unsigned char>(byte));
        return out;
    }
    iconv_t handle = ::iconv_open("UTF-8", codeset.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        if (exact)
            return std::nullopt;
        for (const char byte : text)
            appendUtf8(out, static_cast<unsigned char>(byte) < 0x80
                                ? static_cast<unsigned char>(byte)
                                : 0xFFFD);
        return out;
    }
    std::string input(text);
    char* in = input.data();
    std::size_t inLeft = input.size();
    std::vector<char> buffer(input.size() * 4 + 16);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = ::iconv(handle, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            if (exact) {
                ::iconv_close(handle);
                return std::nullopt;
            }
            appendUtf8(out, 0xFFFD);
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(handle);
    return out;
}

} // namespace

std::string localeToUtf8(std::string_view text)
{
    return *convertedToUtf8(text, false);
}

std::optional<std::string> exactLocaleToUtf8(std::string_view text)
{
    return convertedToUtf8(text, true);
}

std::string nameInUrl(std::string_view name)
{
    return std::string(name);
}

} // namespace tagrelay
