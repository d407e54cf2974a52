#include "platform/byte_reader.h"
#include "platform/codepage.h"
#include "platform/file_writer.h"
#include "platform/folder.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

namespace tagrelay {
namespace {

using test::TempTree;

TEST(ByteReaderTest, ReadsIntegersAndYieldsZeroPastTheEnd)
{
    TempTree tree;
    const auto path =
        tree.writeFile("five.bin", std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A});
    ByteReader reader(path);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.size(), 5);
    EXPECT_EQ(reader.readU32BigEndian(), 0x12345678u);
    // One byte left: the missing three count as zero and the position stays at the end.
    EXPECT_EQ(reader.readU32BigEndian(), 0x9A000000u);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.readU8(), 0);
    EXPECT_EQ(reader.position(), 5);
    reader.seek(-10);
    EXPECT_EQ(reader.position(), 0);
    EXPECT_EQ(reader.readU32LittleEndian(), 0x78563412u);
    reader.seek(1000);
    EXPECT_EQ(reader.position(), 5);
}

TEST(ByteReaderTest, DataReadsStopAtTheEndAcrossWindows)
{
    TempTree tree;
    std::vector<std::uint8_t> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    const auto path = tree.writeFile("big.bin", bytes);
    ByteReader reader(path, 64);
    reader.seek(30);
    std::vector<std::uint8_t> out(100);
    EXPECT_EQ(reader.readData(out), 100u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + 30));
    reader.seek(9950);
    EXPECT_EQ(reader.readBytes(500).size(), 50u);
    reader.seek(0);
    const auto whole = reader.readBytes(20000);
    EXPECT_EQ(whole, bytes);
}

TEST(ByteReaderTest, KeepsTheStartAndTheEndOfAFileInTwoWindows)
{
    TempTree tree;
    std::vector<std::uint8_t> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i % 251);
    const auto path = tree.writeFile("song.bin", bytes);
    ByteReader reader(path, 256);
    // An ID3v1 check at the end, a tag at the start, and back and forth between them.
    for (const std::int64_t offset : {9872, 0, 9900, 100, 9999, 255}) {
        reader.seek(offset);
        EXPECT_EQ(reader.readU8(), bytes[static_cast<std::size_t>(offset)]) << offset;
    }
    EXPECT_EQ(reader.readCalls(), 2u);
    EXPECT_EQ(reader.bytesFetched(), 256u + 128u);
    // A third place replaces the window used least recently (the end).
    reader.seek(5000);
    EXPECT_EQ(reader.readU8(), bytes[5000]);
    reader.seek(10);
    EXPECT_EQ(reader.readU8(), bytes[10]);
    EXPECT_EQ(reader.readCalls(), 3u);
}

TEST(ByteReaderTest, RefusesWhatIsNotARegularFileWithoutBlocking)
{
    TempTree tree;
    const std::string fifo = tree.path() + "x.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ByteReader fromFifo(fifo);
    EXPECT_FALSE(fromFifo.isOpen());
    EXPECT_EQ(fromFifo.readU8(), 0);
    ByteReader fromDirectory(tree.path());
    EXPECT_FALSE(fromDirectory.isOpen());
    ByteReader missing(tree.path() + "missing.mp3");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.size(), 0);
}

TEST(FileWriterTest, TruncatesAppendsAndRefusesAFifo)
{
    TempTree tree;
    const auto createEmpty = [](const std::string& at) {
        FileWriter file(at, WriteMode::CreateOrTruncate);
        return file.close();
    };
    const auto append = [](const std::string& at, std::string_view bytes) {
        FileWriter file(at, WriteMode::Append);
        return file.isOpen() && file.write(bytes) && file.close();
    };
    const auto path = tree.writeFile("list.txt", "old content");
    ASSERT_TRUE(createEmpty(path));
    EXPECT_EQ(test::readFileText(path), "");
    EXPECT_TRUE(append(path, "one\r\n"));
    EXPECT_TRUE(append(path, "two\r\n"));
    EXPECT_EQ(test::readFileText(path), "one\r\ntwo\r\n");

    const std::string fifo = tree.path() + "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(createEmpty(fifo));
    EXPECT_FALSE(append(fifo, "x"));
    EXPECT_FALSE(createEmpty(tree.path() + "no/such/folder/file"));
}

TEST(FileWriterTest, FollowsOnlyALinkOfTheRunningUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    TempTree tree;
    const auto target = tree.writeFile("target", "precious");
    const auto own = tree.path() + "own.ini";
    const auto planted = tree.path() + "planted.ini";
    ASSERT_EQ(::symlink(target.c_str(), own.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), planted.c_str()), 0);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);

    EXPECT_FALSE(FileWriter(planted, WriteMode::CreateOrTruncate).isOpen());
    EXPECT_EQ(test::readFileText(target), "precious");
    FileWriter followed(own, WriteMode::CreateOrTruncate);
    EXPECT_TRUE(followed.isOpen());
    EXPECT_TRUE(followed.write(std::string_view("new")) && followed.close());
    EXPECT_EQ(test::readFileText(target), "new");
}

TEST(FileWriterTest, WritesLargeContentThroughTheBuffer)
{
    TempTree tree;
    const auto path = tree.path() + "large.bin";
    std::string text(3 * FileWriter::blockSize + 17, 'a');
    {
        FileWriter file(path, WriteMode::CreateOrTruncate);
        ASSERT_TRUE(file.isOpen());
        EXPECT_TRUE(file.write(text));
        EXPECT_TRUE(file.writeI32LittleEndian(-2));
    }
    const auto bytes = test::readFileBytes(path);
    ASSERT_EQ(bytes.size(), text.size() + 4);
    EXPECT_EQ(bytes[text.size()], 0xFE);
    EXPECT_EQ(bytes.back(), 0xFF);
}

TEST(FolderListingTest, ListsEveryEntryWithItsKind)
{
    TempTree tree;
    tree.writeFile("song.mp3", "x");
    tree.makeDir("album.mp3");
    ASSERT_EQ(::symlink("song.mp3", (tree.path() + "link.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (tree.path() + "dangling.mp3").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree.path() + "x.mp3").c_str(), 0600), 0);

    FolderResult result;
    const FolderHandle folder = openFolder(tree.path(), result);
    ASSERT_TRUE(folder.isOpen()) << result.reason;
    std::set<std::pair<std::string, EntryKind>> seen;
    for (const DirectoryEntry& entry : listFolder(folder.fd(), result))
        seen.insert({entry.name, entry.kind});
    EXPECT_TRUE(result.ok());
    const std::set<std::pair<std::string, EntryKind>> expected = {
        {"song.mp3", EntryKind::File},
        {"album.mp3", EntryKind::Directory},
        {"link.mp3", EntryKind::File},
        {"dangling.mp3", EntryKind::File},
        {"x.mp3", EntryKind::Other}};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(openFolder(tree.path() + "missing/", result).isOpen());
}

TEST(CodepageTest, ConvertsUtf16AndLatin1IntoUtf8)
{
    test::ScopedLocale locale({"C.UTF-8", "en_US.UTF-8"});
    if (!locale.isSet())
        GTEST_SKIP() << "no UTF-8 locale on this machine";
    const std::vector<std::uint16_t> units = {'T', 0x00E9, 0x20AC, 0xD83C, 0xDFB5, 0xDC00};
    EXPECT_EQ(utf16ToLocale(units), "T\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5?");
    EXPECT_EQ(latin1ToLocale("Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(localeToUtf8("Caf\xC3\xA9"), "Caf\xC3\xA9");
}

TEST(CodepageTest, MarksWhatASingleByteLocaleLacks)
{
    test::ScopedLocale locale({"C"});
    const std::vector<std::uint16_t> units = {'A', 0x4E2D, 'b'};
    const std::string converted = utf16ToLocale(units);
    EXPECT_EQ(converted.front(), 'A');
    EXPECT_EQ(converted.back(), 'b');
    EXPECT_NE(converted.find('?'), std::string::npos);
}

} // namespace
} // namespace tagrelay
