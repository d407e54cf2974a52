// The lists' character set as the file managers read it: Far Manager and far2l read a
// descript.ion as UTF-8 when it starts with the signature and in the OEM code page otherwise.
// The reader below follows that rule over lists tagrelay-cli wrote, in a UTF-8 locale and in a
// Latin-1 one (made with localedef), through each way a line is made (one worker, the pool,
// the description cache).

#include "support/cli_runner.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

namespace tagrelay {
namespace {

using Shown = std::map<std::string, std::string>; // name -> description, in UTF-8

/// What Far shows of a list: with the signature UTF-8, else CP437 (its OEM code page in the
/// United States; CP850 and CP866 misread UTF-8 just as well). A quoted name runs to the next
/// double quote, another to the first blank.
Shown farShows(std::string list)
{
    if (list.starts_with("\xEF\xBB\xBF")) {
        list.erase(0, 3);
    } else {
        iconv_t oem = ::iconv_open("UTF-8", "CP437");
        std::string out(list.size() * 3, '\0');
        char* in = list.data();
        char* to = out.data();
        std::size_t inLeft = list.size();
        std::size_t outLeft = out.size();
        ::iconv(oem, &in, &inLeft, &to, &outLeft);
        ::iconv_close(oem);
        out.resize(out.size() - outLeft);
        list = out;
    }
    Shown shown;
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find("\r\n", start), list.size());
        const std::string line = list.substr(start, end - start);
        start = end + 2;
        const bool quoted = line.starts_with('"');
        const std::size_t close = quoted ? line.find('"', 1) : line.find(' ');
        shown[line.substr(quoted ? 1 : 0, close - (quoted ? 1 : 0))] =
            line.substr(std::min(line.size(), close + (quoted ? 2 : 1)));
    }
    return shown;
}

/// Umlauts, accents and CJK in names and tags: an MP3 file with UTF-16 tags, a JPEG picture,
/// and a line of another program's.
void writeTree(test::TempTree& tree, const std::string& song, const std::string& picture)
{
    const auto tag = test::Id3v2Builder()
                         .utf16Frame("TPE1", u"K\u00FCnstler")
                         .utf16Frame("TIT2", u"Caf\u00E9 \u6771\u4EAC")
                         .bytes();
    test::FrameStream audio;
    audio.raw(tag).frames(40, test::FrameSpec{});
    tree.writeFile("music/" + song, audio.bytes());
    tree.writeFile("music/" + picture, test::jpegFile(test::solidImage(8, 8, {200, 40, 10})));
    tree.writeFile("music/notes.txt", "");
    tree.writeFile("music/descript.ion", "notes.txt plain text\r\n");
}

const Shown rightlyShown = {{"Gr\xC3\xBC\xC3\x9F\x65 \xE6\x9D\xB1\xE4\xBA\xAC.mp3",
                             "K\xC3\xBCnstler - Caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC"},
                            {"\xC3\x89t\xC3\xA9.jpg", "8 x 8 pixel 24 Bit"},
                            {"notes.txt", "plain text"}};

class CliListEncodingTest : public testing::Test
{
  protected:
    test::CliResult walk(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.end(), {"--artist", "--title", "--picture-size", "music"});
        return test::runCli(arguments, tree.path(), scratch.path());
    }
    std::string list() { return test::readFileText(tree.path() + "music/descript.ion"); }

    test::TempTree tree;
    test::TempTree scratch;
};

TEST_F(CliListEncodingTest, FarShowsAListWithTheSignatureRightAndOneInTheLocaleWrong)
{
    writeTree(tree, "Gr\xC3\xBC\xC3\x9F\x65 \xE6\x9D\xB1\xE4\xBA\xAC.mp3", "\xC3\x89t\xC3\xA9.jpg");
    ASSERT_EQ(walk({}).exitCode, 0);
    const Shown inLocale = farShows(list());
    EXPECT_EQ(inLocale.size(), 3u);
    for (const auto& [name, description] : rightlyShown)
        EXPECT_EQ(inLocale.count(name), name == "notes.txt" ? 1u : 0u) << name;

    // Through one worker, the pool, and the cache when it takes every file (after a few
    // seconds unchanged): the same list, whose others' line was ASCII and got the signature.
    std::string first;
    ::sleep(4);
    for (const std::vector<std::string>& how :
         {std::vector<std::string>{"--jobs", "1"}, {"--jobs", "4"}, {"--update"}, {"--update"}}) {
        std::vector<std::string> arguments = {"--list-encoding=utf-8-bom"};
        arguments.insert(arguments.end(), how.begin(), how.end());
        const test::CliResult result = walk(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_EQ(farShows(list()), rightlyShown) << how[0];
        if (first.empty())
            first = list();
        EXPECT_EQ(list(), first) << how[0];
    }
    EXPECT_NE(walk({"--list-encoding", "utf-8-bom", "--update"})
                  .out.find("2 files taken from the description cache, 0 analysed"),
              std::string::npos);
}

TEST_F(CliListEncodingTest, InALatin1LocaleTheLinesAreConvertedThroughIconv)
{
    const std::string locales = scratch.makeDir("locales");
    const std::string make =
        "localedef -i de_DE -f ISO-8859-1 " + locales + "de_DE.ISO-8859-1 >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "localedef cannot make a Latin-1 locale here";
    // Latin-1 names: "Grüße 東京" has no Latin-1 form, so the song is "Grüße".
    writeTree(tree, "Gr\xFC\xDF\x65.mp3", "\xC9t\xE9.jpg");
    ::setenv("LOCPATH", locales.c_str(), 1);
    ::setenv("LC_ALL", "de_DE.ISO-8859-1", 1);
    const test::CliResult locale = walk({});
    const std::string inLocale = list();
    const test::CliResult utf8 = walk({"--list-encoding", "utf-8-bom"});
    ::unsetenv("LOCPATH");
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ASSERT_EQ(locale.exitCode, 0) << locale.err;
    ASSERT_EQ(utf8.exitCode, 0) << utf8.err;
    EXPECT_NE(inLocale.find("\"Gr\xFC\xDF\x65.mp3\" K\xFCnstler - Caf\xE9 ??\r\n"),
              std::string::npos)
        << inLocale;
    // The CJK title was lost to the Latin-1 locale before the list; the rest comes out right.
    EXPECT_EQ(farShows(list()),
              (Shown{{"Gr\xC3\xBC\xC3\x9F\x65.mp3", "K\xC3\xBCnstler - Caf\xC3\xA9 ??"},
                     {"\xC3\x89t\xC3\xA9.jpg", "8 x 8 pixel 24 Bit"},
                     {"notes.txt", "plain text"}}));
}

TEST_F(CliListEncodingTest, AnUnknownEncodingIsAUsageError)
{
    tree.makeDir("music");
    const test::CliResult result = walk({"--list-encoding=utf8"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err,
              "tagrelay-cli: --list-encoding needs locale, utf-8 or utf-8-bom (try --help)\n");
}

} // namespace
} // namespace tagrelay
