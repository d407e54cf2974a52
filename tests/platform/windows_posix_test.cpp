// The POSIX calls of the Windows build over the Windows API (platform/windows/posix.h); built
// and run only there, under wine in CI.
#ifdef _WIN32

#include "platform/console_text.h"
#include "platform/folder.h"
#include "platform/replacement_file.h"
#include "platform/terminal_text.h"
#include "platform/windows/posix.h"
#include "platform/windows/wide_path.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

struct PathCase
{
    const char* name;
    const char* relative;
    /// From the folder "<top>\\sub" of a temporary tree; "<root>" is its drive's root.
    const wchar_t* expected;
};

class WindowsPathAtTest : public testing::TestWithParam<PathCase>
{
};

std::wstring expanded(std::wstring text, const std::wstring& top)
{
    for (const auto& [mark, value] :
         {std::pair<std::wstring, std::wstring>{L"<top>", top}, {L"<root>", top.substr(0, 7)}}) {
        for (std::size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark))
            text.replace(at, mark.size(), value);
    }
    return text;
}

TEST_P(WindowsPathAtTest, NamesAPathAsLinkTextLeads)
{
    test::TempTree tree;
    tree.makeDir("sub");
    const int top = ::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY);
    const int folder = ::open((tree.path() + "sub").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    const std::wstring topPath = windows::pathAt(top, ".");
    ASSERT_TRUE(topPath.starts_with(L"\\\\?\\") && topPath[5] == L':') << "a drive path";
    EXPECT_EQ(windows::pathAt(folder, GetParam().relative), expanded(GetParam().expected, topPath));
    ::close(folder);
    ::close(top);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WindowsPathAtTest,
    testing::Values(PathCase{"Name", "a.mp3", L"<top>\\sub\\a.mp3"},
                    PathCase{"Dot", ".", L"<top>\\sub"}, PathCase{"Up", "..", L"<top>"},
                    PathCase{"UpAndDown", "../other/x", L"<top>\\other\\x"},
                    // ".." stops at the drive's root, as it does at "/"
                    PathCase{"AboveTheRoot", "../../../../../../../../../../../..", L"<root>"},
                    PathCase{"RootOfTheDrive", "/music", L"<root>music"},
                    PathCase{"OtherDrive", "/Q:/music", L"\\\\?\\Q:\\music"},
                    PathCase{"Backslashes", "..\\other", L"<top>\\other"}),
    [](const testing::TestParamInfo<PathCase>& param) { return std::string(param.param.name); });

TEST(WindowsLinkTextTest, JunctionTargetsBecomeAbsoluteLinkText)
{
    EXPECT_EQ(windows::linkText(L"\\??\\C:\\Music\\Jazz", false), "/C:/Music/Jazz");
    EXPECT_EQ(windows::linkText(L"..\\Jazz", true), "../Jazz");
    // Targets on other machines or volumes by GUID cannot be followed by name.
    EXPECT_EQ(windows::linkText(L"\\??\\UNC\\server\\share", false), "");
    EXPECT_EQ(windows::linkText(L"\\??\\Volume{1234}\\x", false), "");
}

/// Reparse data as FSCTL_GET_REPARSE_POINT gives it for a junction (no flags) or a symbolic
/// link (flags), names at the offsets given.
std::vector<unsigned char> reparseData(ULONG tag, std::optional<ULONG> flags,
                                       std::wstring_view substitute, std::wstring_view print,
                                       USHORT printOffsetPast = 0)
{
    std::vector<unsigned char> data(16);
    const auto put16 = [&data](std::size_t at, std::size_t value) {
        data[at] = static_cast<unsigned char>(value);
        data[at + 1] = static_cast<unsigned char>(value >> 8);
    };
    std::memcpy(data.data(), &tag, 4);
    put16(8, 0);
    put16(10, substitute.size() * 2);
    put16(12, substitute.size() * 2 + printOffsetPast);
    put16(14, print.size() * 2);
    if (flags) {
        data.resize(20);
        std::memcpy(data.data() + 16, &*flags, 4);
    }
    for (const std::wstring_view name : {substitute, print}) {
        for (const wchar_t unit : name) {
            data.push_back(static_cast<unsigned char>(unit));
            data.push_back(static_cast<unsigned char>(unit >> 8));
        }
    }
    put16(4, data.size() - 8);
    return data;
}

// Wine 8 makes no reparse points (mklink /J fails, CreateSymbolicLinkW and
// FSCTL_SET_REPARSE_POINT do nothing), so junctions and links are judged from the data
// Windows gives for them: where it leads, as link text the tree guard follows.
TEST(WindowsLinkTextTest, ReparseDataOfJunctionsAndLinksBecomesTheTextTheyLeadTo)
{
    const struct
    {
        std::vector<unsigned char> data;
        std::string text;
    } cases[] = {
        {reparseData(IO_REPARSE_TAG_MOUNT_POINT, {}, L"\\??\\C:\\Music\\Jazz", L"C:\\Music\\Jazz"),
         "/C:/Music/Jazz"},
        // mklink writes both names; some tools only the substitute one
        {reparseData(IO_REPARSE_TAG_MOUNT_POINT, {}, L"\\??\\D:\\out", L""), "/D:/out"},
        {reparseData(IO_REPARSE_TAG_SYMLINK, 1, L"..\\Jazz", L"..\\Jazz"), "../Jazz"},
        {reparseData(IO_REPARSE_TAG_SYMLINK, 0, L"\\??\\C:\\x", L"C:\\x"), "/C:/x"},
        // a volume by GUID, a reparse point of another kind, names past the data's end
        {reparseData(IO_REPARSE_TAG_MOUNT_POINT, {}, L"\\??\\Volume{12}\\", L""), ""},
        {reparseData(0x80000013, {}, L"\\??\\C:\\x", L"C:\\x"), ""},
        {reparseData(IO_REPARSE_TAG_MOUNT_POINT, {}, L"\\??\\C:\\x", L"C:\\x", 200), ""},
        {std::vector<unsigned char>(6, 0xA0), ""},
    };
    for (const auto& [data, text] : cases)
        EXPECT_EQ(windows::linkTextOfReparseData(data.data(), data.size()), text) << text;
}

TEST(WindowsPosixTest, NamesOutsideAsciiWorkThroughTheCodePage)
{
    test::TempTree tree;
    const std::string name = "K\xf6ln \xe9t\xe9.mp3"; // Windows-1252
    FolderResult result;
    FolderHandle folder = openFolder(tree.path(), result);
    ASSERT_TRUE(folder.isOpen()) << result.reason;
    ASSERT_TRUE(replaceFileAt(folder.fd(), name, std::string_view("bytes")).ok());
    const std::vector<DirectoryEntry> entries = listFolder(folder.fd(), result);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);
    EXPECT_EQ(entries[0].kind, EntryKind::File);
    std::string bytes;
    EXPECT_TRUE(readFileAt(folder.fd(), name, 100, bytes).ok());
    EXPECT_EQ(bytes, "bytes");
}

TEST(WindowsPosixTest, AReplacedListKeepsItsHiddenAndSystemAttributes)
{
    test::TempTree tree;
    tree.writeFile("DESCRIPT.ION", "\"a.mp3\" old\r\n");
    const std::wstring list = windows::pathAt(AT_FDCWD, tree.path() + "DESCRIPT.ION");
    ASSERT_TRUE(::SetFileAttributesW(list.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    FolderResult result;
    FolderHandle folder = openFolder(tree.path(), result);
    ASSERT_TRUE(
        replaceFileAt(folder.fd(), "DESCRIPT.ION", std::string_view("\"a.mp3\" new\r\n")).ok());
    EXPECT_EQ(test::readFileText(tree.path() + "DESCRIPT.ION"), "\"a.mp3\" new\r\n");
    const DWORD attributes = ::GetFileAttributesW(list.c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_SYSTEM, 0u);
}

std::vector<std::string> sortedNames(int folderFd)
{
    FolderResult result;
    std::vector<std::string> names;
    for (const DirectoryEntry& entry : listFolder(folderFd, result))
        names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

// Every call on a folder's names goes through the folder's handle: once its path names another
// folder (as when a folder of the tree is swapped for a junction during the walk), nothing is
// read from, written to or removed from the folder now at the path.
TEST(WindowsPosixTest, NamesAreLookedUpInTheFolderOpenedWhereverItsPathLeadsLater)
{
    test::TempTree tree;
    tree.writeFile("music/a.mp3", "old");
    tree.writeFile("music/gone.tmp", "x");
    FolderResult result;
    FolderHandle folder = openFolder(tree.path() + "music", result);
    ASSERT_TRUE(folder.isOpen()) << result.reason;
    const std::wstring music = windows::pathAt(AT_FDCWD, tree.path() + "music");
    const std::wstring moved = windows::pathAt(AT_FDCWD, tree.path() + "moved");
    ASSERT_TRUE(::MoveFileExW(music.c_str(), moved.c_str(), 0)) << ::GetLastError();
    tree.writeFile("music/a.mp3", "planted");
    tree.writeFile("music/planted.mp3", "planted");
    tree.writeFile("music/gone.tmp", "planted");

    EXPECT_EQ(sortedNames(folder.fd()), (std::vector<std::string>{"a.mp3", "gone.tmp"}));
    // Windows asks everything of a file opened in the folder by its handle, and renames,
    // removes and makes names there by the folder's handle; wine 8 opens by the folder's handle
    // but asks the rest by the path the folder was opened with, and refuses it once that path
    // names another folder. Either way the folder at the path is left alone.
    std::string bytes;
    if (readFileAt(folder.fd(), "a.mp3", 100, bytes).ok()) {
        EXPECT_EQ(bytes, "old");
    }
    const bool replaced = replaceFileAt(folder.fd(), "DESCRIPT.ION", std::string_view("list")).ok();
    (void)::unlinkat(folder.fd(), "gone.tmp", 0);
    (void)::mkdirat(folder.fd(), "sub", 0700);
    FolderHandle atPath = openFolder(tree.path() + "music", result);
    EXPECT_EQ(sortedNames(atPath.fd()),
              (std::vector<std::string>{"a.mp3", "gone.tmp", "planted.mp3"}));
    EXPECT_EQ(test::readFileText(tree.path() + "music/gone.tmp"), "planted");
    EXPECT_EQ(test::readFileText(tree.path() + "moved/DESCRIPT.ION"), replaced ? "list" : "");
}

TEST(WindowsPosixTest, FoldersAreKnownByVolumeAndFileIndex)
{
    test::TempTree tree;
    tree.makeDir("one");
    tree.makeDir("two");
    FolderResult result;
    FolderHandle top = openFolder(tree.path(), result);
    FolderHandle one = openFolderAt(top.fd(), "one", result);
    FolderHandle oneAgain = openFolder(tree.path() + "one", result);
    FolderHandle two = openFolderAt(top.fd(), "two", result);
    DirectoryIdentity a, b, c;
    ASSERT_TRUE(identityOfFd(one.fd(), a) && identityOfFd(oneAgain.fd(), b)
                && identityOfFd(two.fd(), c));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a.inode, 0u);
}

TEST(WindowsPosixTest, NoFollowRefusesAFileThatIsNoFolderAndExclusiveCreateAnExistingName)
{
    test::TempTree tree;
    tree.writeFile("file.mp3", "x");
    FolderResult result;
    FolderHandle top = openFolder(tree.path(), result);
    EXPECT_LT(::openat(top.fd(), "file.mp3", O_RDONLY | O_DIRECTORY | O_NOFOLLOW), 0);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_LT(::openat(top.fd(), "file.mp3", O_WRONLY | O_CREAT | O_EXCL), 0);
    EXPECT_EQ(errno, EEXIST);
    EntryKind kind = EntryKind::Other;
    EXPECT_TRUE(kindAt(top.fd(), "file.mp3", kind));
    EXPECT_EQ(kind, EntryKind::File);
}

// Names and tags shown on the console: Windows-1252's letters and punctuation in 0x80 to 0x9F
// stay, controls become escapes, as in a UTF-8 locale.
TEST(WindowsConsoleTest, TheCodePagesCharactersStayAndItsControlsBecomeEscapes)
{
    if (::GetACP() != 1252)
        GTEST_SKIP() << "not Windows-1252";
    EXPECT_EQ(terminalText("Beyonc\xe9 \x96 \x84Halo\x93\x1b[2J\x81\x9b"),
              "Beyonc\xe9 \x96 \x84Halo\x93\\x1b[2J\\u0081\x9b");
}

// On a console the text goes as the characters it holds, and the status line's "\r\033[K"
// erases what a longer line left there, also where the console takes no escape sequences.
// ctest gives the test a pipe; scripts/check-windows runs it on a pseudo-terminal.
TEST(WindowsConsoleTest, NamesComeThroughAsCharactersAndTheEraseClearsTheLine)
{
    const HANDLE console = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode) || ::GetACP() != 1252)
        GTEST_SKIP() << "stderr is no console in Windows-1252";
    writeConsoleText(stderr, "\r\033[Ka longer line that the next one covers");
    writeConsoleText(stderr, "\r\033[KK\xf6ln \x80");
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(console, &screen));
    std::wstring line(40, L'\0');
    DWORD got = 0;
    ASSERT_TRUE(::ReadConsoleOutputCharacterW(console, line.data(), 40,
                                              COORD{0, screen.dwCursorPosition.Y}, &got));
    line.resize(got);
    writeConsoleText(stderr, "\r\033[K");
    EXPECT_EQ(line, L"K\u00f6ln \u20ac" + std::wstring(34, L' '));
}

} // namespace
} // namespace tagrelay

#endif
