// tagrelay-cli: the folder walk without a window, for servers and scripts. It writes exactly
// the files the window program writes for the same options.

#include "cache/description_cache.h"
#include "console_reporter.h"
#include "formats/format_table.h"
#include "platform/clock.h"
#include "platform/clock_text.h"
#include "platform/codepage.h"
#include "platform/console_text.h"
#include "platform/memory_reuse.h"
#include "platform/terminal_text.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "settings/settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

using namespace tagrelay;

namespace {

constexpr int exitDone = 0;
constexpr int exitIncomplete = 1;
constexpr int exitUsage = 2;
constexpr int exitInterrupted = 128; // + the signal: 130 for Ctrl+C, 143 for SIGTERM

struct Flag
{
    const char* name;
    std::int32_t Settings::*field;
};

constexpr Flag flags[] = {
    {"artist", &Settings::showArtist},
    {"album", &Settings::showAlbum},
    {"title", &Settings::showTitle},
    {"bitrate", &Settings::showBitrate},
    {"audio-mode", &Settings::showAudioMode},
    {"playtime", &Settings::showPlaytime},
    {"genre", &Settings::showGenre},
    {"mp3-icons", &Settings::makeMp3Icons},
    {"picture-size", &Settings::showPictureSize},
    {"movie-info", &Settings::showMovieInfo},
    {"picture-icons", &Settings::makePictureIcons},
    {"more-formats", &Settings::moreFormats},
    {"html-index", &Settings::htmlIndex},
};

void printHelp()
{
    std::printf(
        "Usage: tagrelay-cli [options] DIRECTORY\n"
        "\n"
        "Walks DIRECTORY and every folder below it and writes a descript.ion list in each:\n"
        "one line per MP3 file, picture and movie, with the facts chosen below.\n"
        "\n"
        "Options start from the settings file brelvoka.ini in the current directory when\n"
        "there is one (the window program writes it); these flags change them for this run:\n"
        "  --artist, --album, --title      show the MP3 tag texts\n"
        "  --bitrate                       show the bitrate with CBR or VBR\n"
        "  --audio-mode                    show the channel mode\n"
        "  --playtime                      show the playing time\n"
        "  --genre                         show the genre\n"
        "  --mp3-icons                     write NAME.mp3.ico for MP3 files with a cover\n"
        "  --picture-size                  describe JPG and BMP pictures\n"
        "  --picture-icons                 write NAME.jpg.ico / NAME.bmp.ico for pictures\n"
        "  --movie-info                    describe AVI and MPG movies\n"
        "  --all-tag-versions              also read ID3v2.2 and ID3v2.4 tags, and show genre\n"
        "                                  numbers such as (17) as their names\n"
        "  --more-formats                  also describe FLAC, Ogg Vorbis, Opus, M4A, WAV and\n"
        "                                  AAC audio (with the MP3 facts and icons), PNG, GIF,\n"
        "                                  WebP, HEIC, AVIF, TIFF and .jpeg pictures (with the\n"
        "                                  picture options) and MP4, MOV, M4V, MKV and WebM\n"
        "                                  movies (with --movie-info); without it their lines\n"
        "                                  stay in the lists as others wrote them\n"
        "  --html-index                    also write an index.html in each folder: a page\n"
        "                                  of its sub-folders and files with their sizes,\n"
        "                                  descriptions and icons, for web servers that show\n"
        "                                  no descript.ion (a page Tagrelay did not write is\n"
        "                                  left alone)\n"
        "  --no-OPTION                     turn an option off (for example --no-genre)\n"
        "  --list-encoding E               the character set of the lines written: locale (the\n"
        "                                  locale's, the default), utf-8, or utf-8-bom (UTF-8\n"
        "                                  with the signature file managers look for); a list\n"
        "                                  whose other lines are in another set keeps it\n"
        "  --icon-size N                   icon edge in pixels, 32 to 70\n"
        "  --no-read-ahead                 read each file only when it is analysed (for\n"
        "                                  measuring; the lists are the same either way)\n"
        "  --update                        describe only files changed since the last run with\n"
        "                                  --update; the others get their lines from the\n"
        "                                  description cache (the lists are the same)\n"
        "  --cache FILE                    keep the description cache in FILE (implies --update)\n"
        "  --jobs N                        analyse up to N files at once (default: one per\n"
        "                                  processor core; 1: one after the other)\n"
        "  --follow-start-link             walk DIRECTORY also when a link of another user\n"
        "                                  leads there (refused otherwise)\n"
        "  --help, --version\n"
        "\n"
        "A folder's list keeps the lines of files the walk does not describe (other files,\n"
        "folders). The settings file is never written. Ctrl+C or SIGTERM stops the walk: the\n"
        "lists of the folders being described get the new lines written so far and keep the\n"
        "old lines of the files not reached. Exit codes: 0 done, 1 done but some folder could\n"
        "not be listed, entered or written (see the list of files with errors), 2 bad usage\n"
        "or start folder, 130 stopped by Ctrl+C, 143 stopped by SIGTERM.\n");
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "tagrelay-cli: %s (try --help)\n", terminalText(message).c_str());
    return exitUsage;
}

bool setFlag(RunState& run, std::string_view option)
{
    const bool off = option.starts_with("no-");
    if (off)
        option.remove_prefix(3);
    if (option == "all-tag-versions") {
        run.settings.allTagVersions = off ? 0 : 1;
        run.tagVersions = off ? TagVersions::Id3v23Only : TagVersions::All;
        return true;
    }
    Settings& settings = run.settings;
    for (const Flag& flag : flags) {
        if (option == flag.name) {
            settings.*flag.field = off ? 0 : 1;
            return true;
        }
    }
    return false;
}

/// The values of --list-encoding, as the settings file stores them.
struct EncodingName
{
    std::string_view name;
    ListEncoding encoding;
};

constexpr EncodingName encodingNames[] = {
    {"locale", ListEncoding::Locale},
    {"utf-8", ListEncoding::Utf8},
    {"utf-8-bom", ListEncoding::Utf8WithSignature},
};

/// The most analysis threads --jobs takes.
constexpr int maxJobs = 64;

/// A whole decimal number from lowest to highest, into number; false for anything else.
template <typename Number>
bool parseNumber(std::string_view text, int lowest, int highest, Number& number)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < lowest
        || value > highest)
        return false;
    number = static_cast<Number>(value);
    return true;
}

/// Whether argument is the option name, written as "name value" (the value is the next
/// argument, and i moves past it) or "name=value". value is then the option's value, or none
/// when the next argument is missing.
bool takesValue(std::string_view argument, std::string_view name, int& i, int argc, char** argv,
                std::optional<std::string_view>& value)
{
    value.reset();
    if (argument == name) {
        if (i + 1 < argc)
            value = argv[++i];
        return true;
    }
    if (argument.size() > name.size() && argument.starts_with(name)
        && argument[name.size()] == '=') {
        value = argument.substr(name.size() + 1);
        return true;
    }
    return false;
}

/// True when at least one of the seven facts of an MP3 file's line is ticked.
bool choosesMp3Fact(const Settings& settings)
{
    return settings.showArtist != 0 || settings.showAlbum != 0 || settings.showTitle != 0
           || settings.showBitrate != 0 || settings.showAudioMode != 0 || settings.showPlaytime != 0
           || settings.showGenre != 0;
}

bool isDirectory(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

/// The description cache of --update at path (the default place when empty), for the walk
/// of directory with the run's options. Its one warning, if any, goes to stderr.
std::shared_ptr<DescriptionCache> openDescriptionCache(const std::string& path,
                                                       const std::string& directory,
                                                       const RunState& run,
                                                       const ConsoleReporter& reporter)
{
    DescriptionCacheSetup setup;
    setup.path = path.empty() ? defaultDescriptionCachePath() : path;
    setup.makesFolders = path.empty();
    struct stat info
    {
    };
    if (::stat(directory.c_str(), &info) == 0)
        setup.tree = {static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
    setup.keys = formatCacheKeys(
        {run.settings, run.tagVersions, reporter.displayDepth(), localeCodeset(), false});
    return std::make_shared<DescriptionCache>(setup, [](const std::string& text) {
        std::fprintf(stderr, "tagrelay-cli: %s\n", terminalText(text).c_str());
    });
}

/// What the command line asks for: the run's options, the folder, and the cache of --update.
struct Request
{
    RunState run;
    std::string directory; // ending in "/"
    bool update = false;
    std::string cachePath; // empty: the default place
};

/// Reads the settings file and the arguments into request. Returns the exit code when the
/// program is done without a walk (--help, --version, bad usage), nothing when it is to walk.
std::optional<int> readRequest(int argc, char** argv, Request& request)
{
    RunState& run = request.run;
    // A missing settings file leaves the defaults: nothing ticked.
    (void)readSettings(run.settings);
    if (run.settings.iconSize < smallestIconSize)
        run.settings.iconSize = defaultIconSize;
    if (run.settings.allTagVersions != 0)
        run.tagVersions = TagVersions::All;

    std::string& directory = request.directory;
    bool haveDirectory = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            printHelp();
            return exitDone;
        }
        if (argument == "--version") {
            std::printf("tagrelay-cli %s\n", TAGRELAY_VERSION);
            return exitDone;
        }
        std::optional<std::string_view> value;
        if (takesValue(argument, "--icon-size", i, argc, argv, value)) {
            if (!value
                || !parseNumber(*value, smallestIconSize, largestIconSize, run.settings.iconSize))
                return usageError("--icon-size needs a number from 32 to 70");
            continue;
        }
        if (takesValue(argument, "--jobs", i, argc, argv, value)) {
            if (!value || !parseNumber(*value, 1, maxJobs, run.analysisWorkers))
                return usageError("--jobs needs a number from 1 to 64");
            continue;
        }
        if (takesValue(argument, "--list-encoding", i, argc, argv, value)) {
            const auto named = std::find_if(
                std::begin(encodingNames), std::end(encodingNames),
                [&value](const EncodingName& known) { return value && *value == known.name; });
            if (named == std::end(encodingNames))
                return usageError("--list-encoding needs locale, utf-8 or utf-8-bom");
            run.settings.listEncoding = static_cast<std::int32_t>(named->encoding);
            continue;
        }
        if (argument == "--update") {
            request.update = true;
            continue;
        }
        if (takesValue(argument, "--cache", i, argc, argv, value)) {
            if (!value || value->empty())
                return usageError("--cache needs a file");
            request.cachePath = *value;
            request.update = true;
            continue;
        }
        if (argument == "--follow-start-link") {
            run.followsStartLink = true;
            continue;
        }
        if (argument == "--read-ahead" || argument == "--no-read-ahead") {
            run.readAhead = argument == "--read-ahead";
            continue;
        }
        if (argument == "--") {
            if (i + 1 < argc && !haveDirectory) {
                directory = argv[++i];
                haveDirectory = true;
            }
            if (i + 1 < argc)
                return usageError("only one DIRECTORY can be given");
            break;
        }
        if (argument.starts_with("--")) {
            if (!setFlag(run, argument.substr(2)))
                return usageError("unknown option " + std::string(argument));
            continue;
        }
        if (haveDirectory)
            return usageError("only one DIRECTORY can be given");
        directory = argument;
        haveDirectory = true;
    }
    if (!haveDirectory || directory.empty())
        return usageError("no DIRECTORY given");
    if (!isDirectory(directory))
        return usageError("not a directory: " + directory);
    if (directory.back() != '/')
        directory += '/';
    return std::nullopt;
}

/// Prints the list of files with errors and what the run did.
void printSummary(const RunState& run, const DescriptionCache* cache)
{
    const auto& errors = run.errors;
    if (!errors.empty()) {
        std::string list = std::string(errorListTitle) + ":\n";
        for (const std::string& error : errors)
            list += "  " + terminalText(error) + "\n";
        writeConsoleText(stdout, list);
    }
    const std::string elapsed = elapsedClockText(tickSeconds(), run.runStartSeconds);
    const std::size_t entries = errors.size();
    std::printf("%d %s described in %s, %zu %s in the list of files with errors%s\n", run.fileCount,
                run.fileCount == 1 ? "file" : "files", elapsed.c_str(), entries,
                entries == 1 ? "entry" : "entries",
                run.closeRequested ? "; stopped before the end" : "");
    if (run.incompleteFolders > 0)
        std::printf("%d %s could not be described or written in full (see the list above)\n",
                    run.incompleteFolders, run.incompleteFolders == 1 ? "folder" : "folders");
    if (cache != nullptr && cache->isOn()) {
        const DescriptionCacheCounts counts = cache->counts();
        std::printf("%lld %s taken from the description cache, %lld analysed\n",
                    static_cast<long long>(counts.hits), counts.hits == 1 ? "file" : "files",
                    static_cast<long long>(counts.misses));
    }
    std::fflush(stdout);
}

/// The exit code of a run, saying on the error output why a stopped one stopped.
int exitCodeOf(const RunState& run)
{
    const int signal = ConsoleReporter::interruptSignal();
    if (run.closeRequested || signal != 0) {
        const int stoppedBy = signal != 0 ? signal : SIGINT;
        std::fprintf(stderr,
                     "tagrelay-cli: stopped by %s; the lists keep the old lines of the files not "
                     "reached\n",
                     stoppedBy == SIGTERM ? "SIGTERM" : "Ctrl+C");
        return exitInterrupted + stoppedBy;
    }
    return run.incompleteFolders > 0 ? exitIncomplete : exitDone;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    keepFreedMemoryForReuse();
    Request request;
    if (const std::optional<int> done = readRequest(argc, argv, request))
        return *done;
    RunState& run = request.run;

    if (!choosesMp3Fact(run.settings))
        std::fprintf(stderr, "tagrelay-cli: no MP3 fact chosen (--artist, --album, --title, "
                             "--bitrate, --audio-mode, --playtime, --genre): the lines of MP3 "
                             "files will hold their names alone\n");
    ConsoleReporter reporter(run, ::isatty(STDERR_FILENO) != 0);
    ConsoleReporter::catchInterrupt();
    std::shared_ptr<DescriptionCache> cache;
    if (request.update)
        run.descriptionCache = cache =
            openDescriptionCache(request.cachePath, request.directory, run, reporter);
    run.fileCount = 0;
    run.runStartSeconds = tickSeconds();
    describeDirectory(request.directory, 0, reporter, run);
    if (cache)
        cache->finishRun(run.closeRequested ? RunEnd::Stopped : RunEnd::Complete);
    reporter.clearStatus();

    printSummary(run, cache.get());
    return exitCodeOf(run);
}
