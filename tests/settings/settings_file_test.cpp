#include "settings/settings_file.h"
#include "shell/shell_test_support.h"

#include <sys/stat.h>

#include <climits>
#include <random>

namespace tagrelay {
namespace {

using test::settingsBytes;
using test::SettingsIntegers;
using test::TempTree;

SettingsIntegers integersOf(const Settings& s)
{
    return {s.showArtist,       s.showAlbum, s.showTitle,    s.showBitrate,     s.showAudioMode,
            s.showPlaytime,     s.showGenre, s.makeMp3Icons, s.showPictureSize, s.showMovieInfo,
            s.makePictureIcons, s.iconSize,  s.runCounter};
}

/// A settings record with every field set, to see what a read leaves alone.
Settings untouchedSettings()
{
    Settings settings;
    settings.showGenre = 5;
    settings.iconSize = 44;
    settings.runCounter = 3;
    settings.startDirectory = "/kept/";
    return settings;
}

// No option ticked, icon size 50, first run.
const SettingsIntegers exampleIntegers = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 50, 1};

TEST(SettingsFileTest, AFileThatCannotBeOpenedLeavesEveryFieldAlone)
{
    TempTree tree;
    const std::string fifo = tree.path() + "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {tree.path() + "missing.ini", tree.path(), fifo}) {
        Settings settings = untouchedSettings();
        EXPECT_FALSE(readSettings(settings, path)) << path;
        EXPECT_EQ(integersOf(settings), integersOf(untouchedSettings()));
        EXPECT_EQ(settings.startDirectory, "/kept/");
    }
}

TEST(SettingsFileTest, AWriterThatCannotCreateTheFileFailsQuietly)
{
    TempTree tree;
    const std::string fifo = tree.path() + "brelvoka.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {tree.path() + "no/such/folder/brelvoka.ini", fifo}) {
        Settings settings;
        settings.startDirectory = "/music/";
        SettingsWriter writer(path); // must neither block on the FIFO nor throw
        EXPECT_FALSE(writer.isOpen());
        EXPECT_FALSE(writer.writeMp3Flags(settings));
        EXPECT_FALSE(writer.writeRestAndClose(settings));
    }
    struct stat info
    {
    };
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

struct StoredFile
{
    const char* name;
    std::vector<std::uint8_t> bytes;
    SettingsIntegers integers;
    std::string directory;
};

class StoredSettingsTest : public ::testing::TestWithParam<StoredFile>
{
};

TEST_P(StoredSettingsTest, ReadsWhatIsThereAndTheDefaultForWhatIsMissingOrOutOfRange)
{
    TempTree tree;
    const auto path = tree.writeFile("brelvoka.ini", GetParam().bytes);
    Settings settings = untouchedSettings();
    ASSERT_TRUE(readSettings(settings, path));
    EXPECT_EQ(integersOf(settings), GetParam().integers);
    EXPECT_EQ(settings.startDirectory, GetParam().directory);
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

// Nothing ticked, the default icon size, no run yet.
const SettingsIntegers allDefault = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 50, 0};

INSTANTIATE_TEST_SUITE_P(
    Files, StoredSettingsTest,
    ::testing::Values(
        StoredFile{"Empty", {}, allDefault, ""},
        // Three bytes: they are the low-order bytes of showArtist, 0x105, which is no flag.
        StoredFile{"ThreeBytes", {0x05, 0x01, 0x00}, allDefault, ""},
        StoredFile{"OneFlag", {0x01, 0x00}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 50, 0}, ""},
        // Ends two bytes into runCounter.
        StoredFile{"EndsInsideRunCounter",
                   cut(settingsBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0x7F030107}, ""), 50),
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0x0107},
                   ""},
        StoredFile{"NoDirectory", settingsBytes(exampleIntegers, ""), exampleIntegers, ""},
        // Values the program never writes take their defaults; the rest of the file counts.
        StoredFile{"OddFlagValues",
                   settingsBytes({7, -1, 1, 2, 0, 1, 0, 0, 0, INT_MIN, 1, -5, 9}, "/m/"),
                   {0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1, 50, 9},
                   "/m/"},
        StoredFile{"SmallestIconSize",
                   settingsBytes({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 32, 4}, ""),
                   {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 32, 4},
                   ""},
        StoredFile{"LargestIconSize",
                   settingsBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 70, 4}, ""),
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 70, 4},
                   ""},
        StoredFile{"IconSizeBelowTheRange",
                   settingsBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 31, 4}, ""),
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 50, 4},
                   ""},
        // A planted 20000 would make one 640 x 480 picture's icon cost seconds and gigabytes.
        StoredFile{"IconSizeFarAboveTheRange",
                   settingsBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 20000, 4}, ""),
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 50, 4},
                   ""},
        StoredFile{"IconSizeJustAboveTheRange",
                   settingsBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 71, 4}, ""),
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 50, 4},
                   ""},
        StoredFile{"DirectoryCutAtCrLf", settingsBytes(exampleIntegers, "/music/\r\n/rest/"),
                   exampleIntegers, "/music/"},
        StoredFile{"DirectoryCutAtLf", settingsBytes(exampleIntegers, "/a b/\n/rest/"),
                   exampleIntegers, "/a b/"},
        StoredFile{"DirectoryCutAtCr", settingsBytes(exampleIntegers, "/a/\r"), exampleIntegers,
                   "/a/"},
        StoredFile{"DirectoryCutAtZero",
                   settingsBytes(exampleIntegers, std::string_view("/a\0b", 4)), exampleIntegers,
                   "/a"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SettingsFileTest, AHugeOrRandomFileIsReadWithoutHoldingItAll)
{
    TempTree tree;
    std::mt19937 random(1234);
    std::vector<std::uint8_t> garbage(1 << 20);
    for (auto& byte : garbage)
        byte = static_cast<std::uint8_t>(random() % 255 + 1); // no zero, so only CR/LF cut
    std::vector<std::uint8_t> longLine = settingsBytes(exampleIntegers, "");
    longLine.resize(longLine.size() + (1 << 20), 'a');
    for (const auto& bytes : {garbage, longLine}) {
        const auto path = tree.writeFile("brelvoka.ini", bytes);
        Settings settings;
        ASSERT_TRUE(readSettings(settings, path));
        EXPECT_LE(settings.startDirectory.size(), maxStoredDirectoryLength);
    }
    Settings settings;
    ASSERT_TRUE(readSettings(settings, tree.path() + "brelvoka.ini"));
    EXPECT_EQ(settings.startDirectory, std::string(maxStoredDirectoryLength, 'a'));
}

/// The extra options behind the directory, in file order.
struct Extras
{
    std::int32_t moreFormats = 0;
    std::int32_t allTagVersions = 0;
    std::int32_t listEncoding = 0;
    std::int32_t htmlIndex = 0;

    bool operator==(const Extras&) const = default;
};

Extras extrasOf(const Settings& settings)
{
    return {settings.moreFormats, settings.allTagVersions, settings.listEncoding,
            settings.htmlIndex};
}

/// The extra options' block as the writer puts it behind the directory.
std::string extraBlock(const Extras& extras)
{
    std::string block("\0TRX1", 5);
    for (const std::int32_t value :
         {extras.moreFormats, extras.allTagVersions, extras.listEncoding, extras.htmlIndex}) {
        for (int shift = 0; shift < 32; shift += 8)
            block += static_cast<char>((static_cast<std::uint32_t>(value) >> shift) & 0xFF);
    }
    return block;
}

std::vector<std::uint8_t> withExtras(const std::string& directory, const std::string& extras)
{
    return settingsBytes(exampleIntegers, directory + extras);
}

struct ExtraOptionsCase
{
    const char* name;
    Extras set;
    /// What the file holds: the set options as the writer keeps them.
    Extras stored;
    std::string directory;
};

class ExtraOptionsTest : public ::testing::TestWithParam<ExtraOptionsCase>
{
};

// The file keeps the thirteen fields and the directory where every reader finds them; the
// extra options follow only when one is on, so a file without them is the plain layout.
TEST_P(ExtraOptionsTest, SurviveAWriteAndLeaveThePlainLayoutAlone)
{
    const ExtraOptionsCase& row = GetParam();
    TempTree tree;
    const std::string path = tree.path() + "brelvoka.ini";
    Settings written;
    written.iconSize = 50;
    written.runCounter = 1;
    written.moreFormats = row.set.moreFormats;
    written.allTagVersions = row.set.allTagVersions;
    written.listEncoding = row.set.listEncoding;
    written.htmlIndex = row.set.htmlIndex;
    written.startDirectory = row.directory;
    SettingsWriter writer(path);
    ASSERT_TRUE(writer.writeMp3Flags(written));
    ASSERT_TRUE(writer.writeRestAndClose(written));

    const bool anyExtra = row.stored != Extras{};
    EXPECT_EQ(test::readFileBytes(path),
              withExtras(row.directory, anyExtra ? extraBlock(row.stored) : ""));

    Settings read = untouchedSettings();
    ASSERT_TRUE(readSettings(read, path));
    EXPECT_EQ(integersOf(read), exampleIntegers);
    EXPECT_EQ(read.startDirectory, row.directory);
    EXPECT_TRUE(extrasOf(read) == row.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ExtraOptionsTest,
    ::testing::Values(ExtraOptionsCase{"None", {}, {}, "/music/"},
                      ExtraOptionsCase{"MoreFormats", {1, 0, 0, 0}, {1, 0, 0, 0}, "/music/"},
                      ExtraOptionsCase{"AllTagVersions", {0, 1, 0, 0}, {0, 1, 0, 0}, "/m/"},
                      ExtraOptionsCase{"BothNoDirectory", {1, 5, 0, 0}, {1, 1, 0, 0}, ""},
                      ExtraOptionsCase{"Utf8WithSignature", {0, 0, 2, 0}, {0, 0, 2, 0}, "/m/"},
                      ExtraOptionsCase{"HtmlIndexAndUtf8", {0, 0, 1, 3}, {0, 0, 1, 1}, "/m/"},
                      // An encoding this program does not know is not written at all.
                      ExtraOptionsCase{"UnknownEncoding", {0, 0, 9, 0}, {}, "/m/"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SettingsFileTest, ExtraOptionsCountOnlyBehindTheirMark)
{
    TempTree tree;
    const std::string twoOptions = extraBlock({1, 1, 0, 0}).substr(0, 5 + 8);
    const struct
    {
        std::vector<std::uint8_t> bytes;
        Extras read;
    } files[] = {
        {withExtras("/m/", extraBlock({1, 1, 2, 1})), {1, 1, 2, 1}},
        // A file of the two first options alone has the later ones off.
        {withExtras("/m/", twoOptions), {1, 1, 0, 0}},
        // Another mark, or the block behind a line end instead of the zero byte.
        {withExtras("/m/", "\0" + extraBlock({1, 1, 1, 1}).substr(1).replace(0, 4, "TRX2")), {}},
        {withExtras("/m/\n", extraBlock({1, 1, 1, 1}).substr(1)), {}},
        // Values never written, and a block cut short inside its second integer.
        {withExtras("/m/", extraBlock({7, -1, 3, 2})), {}},
        {withExtras("/m/", extraBlock({0, 0, -1, 0})), {}},
        {cut(withExtras("/m/", twoOptions), 52 + 3 + 5 + 4 + 2), {1, 1, 0, 0}},
        {cut(withExtras("/m/", twoOptions), 52 + 3 + 3), {}},
        // A directory longer than is kept still finds the block behind it.
        {withExtras(std::string(maxStoredDirectoryLength + 10, 'a'), extraBlock({0, 1, 0, 0})),
         {0, 1, 0, 0}},
    };
    for (const auto& file : files) {
        const auto path = tree.writeFile("brelvoka.ini", file.bytes);
        Settings settings = untouchedSettings();
        settings.moreFormats = 1;
        settings.listEncoding = 1;
        ASSERT_TRUE(readSettings(settings, path));
        EXPECT_TRUE(extrasOf(settings) == file.read) << file.bytes.size();
    }
}

struct CounterStep
{
    std::int32_t stored;
    std::int32_t next;
    bool thankYouDue;
};

class RunCounterTest : public ::testing::TestWithParam<CounterStep>
{
};

TEST_P(RunCounterTest, CountsTheRunAndSaysWhenThanksAreDue)
{
    Settings settings;
    settings.runCounter = GetParam().stored;
    EXPECT_EQ(applyRunCounter(settings), GetParam().thankYouDue);
    EXPECT_EQ(settings.runCounter, GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(Counters, RunCounterTest,
                         ::testing::Values(CounterStep{0, 1, false}, CounterStep{1, 2, false},
                                           CounterStep{7, 8, false}, CounterStep{8, 1, true},
                                           // 9 is never stored by a run of its own.
                                           CounterStep{9, 10, false}, CounterStep{10, 2, false},
                                           CounterStep{INT_MAX, 2, false},
                                           CounterStep{-3, -2, false}));

} // namespace
} // namespace tagrelay
