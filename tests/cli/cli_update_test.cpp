// tagrelay-cli --update against a full run: after random changes to a tree (files changed,
// added, removed and renamed, folders renamed, icon files touched or gone) and under changing
// options, the lists, icon files and error lists are byte for byte the same.

#include "support/cli_runner.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

namespace tagrelay {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

/// Every list, page and icon file of a tree, by path.
std::map<std::string, std::string> writtenFiles(const std::string& root)
{
    std::map<std::string, std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name == "descript.ion" || name == "index.html" || entry.path().extension() == ".ico")
            written[entry.path().string()] = test::readFileText(entry.path().string());
    }
    return written;
}

/// The list of files with errors of a run, as it printed it.
std::string errorListOf(const std::string& out)
{
    const std::size_t end = out.find(" described in ");
    return out.substr(0, out.rfind('\n', end) + 1);
}

class CliUpdateTest : public testing::Test
{
  protected:
    CliUpdateTest() { ::chmod(cacheFolder.path().c_str(), 0700); }

    Bytes song(const std::string& title, int frames, bool withCover)
    {
        test::Id3v2Builder tag;
        tag.textFrame("TIT2", title).textFrame("TPE1", "Artist " + title.substr(0, 1));
        if (withCover)
            tag.pictureFrame(3, "image/jpeg", cover);
        test::FrameStream stream;
        stream.raw(tag.bytes());
        if (frames % 2 == 0)
            stream.frames(frames, test::FrameSpec{});
        for (int i = 0; frames % 2 == 1 && i < frames / 2; ++i)
            stream.bitrates({128, 192}, test::FrameSpec{});
        return stream.bytes();
    }

    void addFile(const std::string& relative)
    {
        const int n = static_cast<int>(random() % 400);
        if (relative.ends_with(".jpg"))
            music.writeFile(relative,
                            test::jpegFile(test::solidImage(20 + n, 10 + n % 7, {1, 2, 3})));
        else
            music.writeFile(relative, song("T" + std::to_string(n), 120 + n, n % 3 == 0));
        files.push_back(relative);
    }

    /// One of the changes a collection sees between two runs.
    void changeSomething()
    {
        if (files.empty()) {
            addFile("new/a.mp3");
            return;
        }
        const std::size_t at = random() % files.size();
        const std::string path = music.path() + files[at];
        switch (random() % 6) {
        case 0: // the tags were edited
            if (files[at].ends_with(".mp3"))
                music.writeFile(files[at],
                                song("Edited" + std::to_string(random() % 9), 150, true));
            break;
        case 1:
            addFile("album" + std::to_string(random() % 4) + "/added"
                    + std::to_string(random() % 1000) + (random() % 2 ? ".mp3" : ".jpg"));
            break;
        case 2:
            fs::remove(path);
            files.erase(files.begin() + static_cast<std::ptrdiff_t>(at));
            break;
        case 3: { // renamed in its folder
            const std::string renamed = fs::path(files[at]).parent_path().string() + "/renamed"
                                        + std::to_string(random() % 1000)
                                        + fs::path(files[at]).extension().string();
            fs::rename(path, music.path() + renamed);
            files[at] = renamed;
            break;
        }
        case 4: // an icon file touched or removed by someone
            if (fs::exists(path + ".ico")) {
                if (random() % 2)
                    fs::remove(path + ".ico");
                else
                    music.writeFile(files[at] + ".ico", "not the icon");
            }
            break;
        default: { // a whole folder renamed
            const std::string folder = fs::path(files[at]).parent_path().string();
            const std::string renamed = folder + "x";
            fs::rename(music.path() + folder, music.path() + renamed);
            for (std::string& file : files) {
                if (file.starts_with(folder + "/"))
                    file = renamed + file.substr(folder.size());
            }
            break;
        }
        }
    }

    test::CliResult run(const std::vector<std::string>& options, bool update)
    {
        std::vector<std::string> arguments = options;
        if (update) {
            arguments.push_back("--cache");
            arguments.push_back(cacheFolder.path() + "cache.sqlite");
        }
        arguments.push_back(music.path());
        return test::runCli(arguments, work.path(), scratch.path());
    }

    test::TempTree music, work, scratch, cacheFolder;
    std::mt19937 random{5};
    std::vector<std::string> files;
    const Bytes cover = test::jpegFile(test::solidImage(120, 120, {10, 200, 30}));
};

TEST_F(CliUpdateTest, WritesWhatAFullRunWritesThroughChangesAndOptions)
{
    for (int album = 0; album < 4; ++album) {
        for (int track = 0; track < 6; ++track)
            addFile("album" + std::to_string(album) + "/" + std::to_string(track)
                    + (track == 5 ? ".jpg" : ".mp3"));
    }
    music.writeFile("album0/broken.mp3", "no audio here");
    // The cache takes only files that have not changed for a few seconds.
    const auto settle = [] { ::sleep(4); };
    settle();

    const std::vector<std::vector<std::string>> optionSets = {
        {"--artist", "--title", "--bitrate", "--playtime", "--mp3-icons", "--picture-size"},
        {"--album", "--genre", "--audio-mode", "--picture-icons", "--icon-size", "40"},
        {"--title", "--bitrate", "--mp3-icons", "--picture-size", "--picture-icons",
         "--html-index"},
    };
    for (std::size_t round = 0; round < 5; ++round) {
        const auto& options = optionSets[round % optionSets.size()];
        const test::CliResult updated = run(options, true);
        ASSERT_EQ(updated.exitCode, 0) << updated.err;
        EXPECT_EQ(updated.err, "");
        const auto viaCache = writtenFiles(music.path());
        // Nothing changed since: the same is written, and after the changes have settled every
        // file comes from the cache.
        const test::CliResult again = run(options, true);
        if (round % 2 == 0) {
            EXPECT_NE(again.out.find(", 0 analysed"), std::string::npos) << round << again.out;
        }
        EXPECT_EQ(writtenFiles(music.path()), viaCache) << "round " << round;
        EXPECT_EQ(errorListOf(again.out), errorListOf(updated.out));

        const test::CliResult full = run(options, false);
        ASSERT_EQ(full.exitCode, 0);
        EXPECT_EQ(writtenFiles(music.path()), viaCache) << "round " << round;
        EXPECT_EQ(errorListOf(full.out), errorListOf(updated.out)) << "round " << round;

        for (int change = 0; change < 4; ++change)
            changeSomething();
        if (round % 2 == 1)
            settle();
    }
}

/// The modification times (to the nanosecond) of every folder and file of a tree.
std::map<std::string, std::int64_t> modificationTimes(const std::string& root)
{
    std::map<std::string, std::int64_t> times;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat info
        {
        };
        if (::lstat(entry.path().c_str(), &info) == 0)
            times[entry.path().string()] =
                info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec;
    }
    return times;
}

TEST_F(CliUpdateTest, AWalkThatChangesNothingTouchesNothing)
{
    for (int track = 0; track < 4; ++track)
        addFile("album/" + std::to_string(track) + (track == 3 ? ".jpg" : ".mp3"));
    music.writeFile("album/notes.txt", "kept");
    const std::vector<std::string> options = {"--artist",    "--title",        "--bitrate",
                                              "--mp3-icons", "--picture-size", "--picture-icons",
                                              "--html-index"};
    ASSERT_EQ(run(options, false).exitCode, 0);
    const auto before = modificationTimes(music.path());
    for (const bool update : {false, true}) {
        ASSERT_EQ(run(options, update).exitCode, 0);
        // Neither a list, a page nor an icon file is written again, and no temporary file comes and
        // goes in a folder (which would move the folder's own time).
        EXPECT_EQ(modificationTimes(music.path()), before) << (update ? "--update" : "full run");
    }
}

} // namespace
} // namespace tagrelay
