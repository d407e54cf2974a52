#include "lists/html_index.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <functional>

namespace tagrelay {
namespace {

struct TextCase
{
    const char* what;
    std::function<std::string(std::string_view)> convert;
    std::string_view input;
    std::string_view expected;
};

std::string sizeOf(std::string_view digits)
{
    return sizeText(std::stoull(std::string(digits)));
}

class PageTextTest : public testing::TestWithParam<TextCase>
{
};

TEST_P(PageTextTest, ConvertsAsTheBrowserNeedsIt)
{
    EXPECT_EQ(GetParam().convert(GetParam().input), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageTextTest,
    testing::Values(
        TextCase{"every byte but the unreserved ones", percentEncoded,
                 "a b#?%&+<>\"'/;\xC3\xA9~-._Z9",
                 "a%20b%23%3F%25%26%2B%3C%3E%22%27%2F%3B%C3%A9~-._Z9"},
        TextCase{"markup and quotes", htmlEscaped, "<script>a&b</script>\"'",
                 "&lt;script&gt;a&amp;b&lt;/script&gt;&quot;&#39;"},
        TextCase{"UTF-8 kept, tab a blank, controls replaced", htmlEscaped,
                 "\xC3\xA9\xF0\x9F\x8E\xB5\t\x01\x7F",
                 "\xC3\xA9\xF0\x9F\x8E\xB5 \xEF\xBF\xBD\xEF\xBF\xBD"},
        TextCase{
            "overlong, surrogate, cut short, stray", htmlEscaped,
            "\xC0\xAF|\xED\xA0\x80|\xE2\x82|\x80|\xF4\x90\x80\x80",
            "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF"
            "\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        TextCase{"bytes", sizeOf, "1023", "1023 B"}, TextCase{"a KiB", sizeOf, "1024", "1.0 KiB"},
        TextCase{"tenths", sizeOf, "3565412", "3.4 MiB"},
        TextCase{"whole from ten on", sizeOf, "10485760", "10 MiB"},
        TextCase{"the largest", sizeOf, "18446744073709551615", "16 EiB"}));

ListedEntry file(std::string name, std::uint64_t size, bool isLink = false)
{
    return {{std::move(name), EntryKind::File, isLink}, size};
}

ListedEntry folder(std::string name)
{
    return {{std::move(name), EntryKind::Directory, false}, std::nullopt};
}

/// A folder of hostile names, listed in no order, with a list in the web file server's forms.
class IndexPageTest : public testing::Test
{
  protected:
    std::string page(std::string_view list, ListTexts texts = ListTexts::Locale) const
    {
        return indexPageBytes(indexPageOf("Music <&>", listing, list, texts));
    }

    std::vector<ListedEntry> listing = {
        file("z.mp3", 2048),       file("z.mp3.ico", 900),   folder("b <i>"),
        file("orphan.ico", 5),     file("a#?%.mp3", 10),     file(".hidden", 1),
        file("descript.ion", 70),  file("DESCRIPT.ION", 70), file("index.html", 300),
        file("link.mp3", 7, true), folder("a \"dir\""),
    };
};

TEST_F(IndexPageTest, ShowsFoldersThenFilesByNameWithTheirLinesIconsAndSizes)
{
    const std::string html = page("\"z.mp3\" <script>alert(1)</script>\r\n"
                                  "\"b <i>\" a folder & more\r\n"
                                  "\"a#?%.mp3\" line one\\nline <two>\x04\xC2\r\n"
                                  "\"z.mp3\" a second line is not shown\r\n"
                                  "\"gone.mp3\" a file that is not there\r\n");
    EXPECT_TRUE(isOwnIndexPage(html));
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("<title>Music &lt;&amp;&gt;</title>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"../\">"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    const std::vector<std::string> rows = {
        "<a href=\"a%20%22dir%22/\">a &quot;dir&quot;/</a>",
        "<a href=\"b%20%3Ci%3E/\">b &lt;i&gt;/</a></td><td class=\"s\"></td><td>a folder &amp; "
        "more</td>",
        "<a href=\"a%23%3F%25.mp3\">a#?%.mp3</a></td><td class=\"s\" title=\"10 bytes\">10 B</td>"
        "<td>line one<br>line &lt;two&gt;</td>",
        "<a href=\"link.mp3\">link.mp3</a></td><td class=\"s\"></td>",
        "<a href=\"orphan.ico\">orphan.ico</a>",
        "<a href=\"z.mp3\"><img src=\"z.mp3.ico\" alt=\"\">z.mp3</a></td><td class=\"s\" "
        "title=\"2048 bytes\">2.0 KiB</td><td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"};
    std::size_t at = 0;
    for (const std::string& row : rows) {
        const std::size_t found = html.find(row, at);
        ASSERT_NE(found, std::string::npos) << row;
        at = found + row.size();
    }
    for (const char* hidden : {"hidden", "descript.ion", "DESCRIPT.ION", "index.html",
                               "href=\"z.mp3.ico\"", "gone.mp3", "second line"})
        EXPECT_EQ(html.find(hidden), std::string::npos) << hidden;
    // The same folder listed in another order gives the same bytes.
    std::reverse(listing.begin(), listing.end());
    EXPECT_EQ(page("\"z.mp3\" <script>alert(1)</script>\r\n"
                   "\"b <i>\" a folder & more\r\n"
                   "\"a#?%.mp3\" line one\\nline <two>\x04\xC2\r\n"),
              html);
}

TEST_F(IndexPageTest, TextsArriveInUtf8WhateverTheListsCharacterSet)
{
    // "\xE9" is e acute in the 8-bit sets; behind the signature or as UTF-8 it is no character.
    const std::string eightBit = page("\"z.mp3\" Caf\xE9\r\n");
    EXPECT_EQ(eightBit.find("Caf\xE9<"), std::string::npos);
    const std::string signed8 = page("\xEF\xBB\xBF\"z.mp3\" Caf\xC3\xA9\r\n");
    EXPECT_NE(signed8.find("<td>Caf\xC3\xA9</td>"), std::string::npos);
    EXPECT_EQ(page("\"z.mp3\" Caf\xC3\xA9\r\n", ListTexts::Utf8), signed8);
    EXPECT_NE(page("\"z.mp3\" Caf\xE9\r\n", ListTexts::Utf8).find("Caf\xEF\xBF\xBD<"),
              std::string::npos);
}

TEST(IndexPageMarkerTest, OnlyAPageStartingWithTheMarkerIsOurs)
{
    EXPECT_TRUE(isOwnIndexPage(indexPageBytes({})));
    for (const char* other : {"", "<!DOCTYPE html>\n<html><!-- written by tagrelay -->",
                              " <!DOCTYPE html>\n<!-- written by tagrelay", "<html>"})
        EXPECT_FALSE(isOwnIndexPage(other)) << other;
}

} // namespace
} // namespace tagrelay
