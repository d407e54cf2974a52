#pragma once

#include "formats/shown_facts.h"
#include "picture/rgb_image.h"
#include "platform/open_file.h"
#include "settings/settings.h"
#include "tags/tag_versions.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

class MovieSource;
class ReadAhead;

/// What the analysis of a file needs to know of the run, copied when the file is handed out,
/// so that an analysis on another thread never touches the run's state or its front end.
struct AnalysisOptions
{
    Settings settings;
    TagVersions tagVersions = TagVersions::Id3v23Only;
    bool showsCovers = false;       // the front end shows each MP3 file's cover
    std::uint8_t displayDepth = 32; // bits per pixel palette pictures report
    ScreenSize screen;              // the screen a movie is centred on
    const ReadAhead* readAhead = nullptr;
};

/// Everything besides a file's bytes that can shape its line, its error entries and its icon
/// file. Each format's cache key takes from it only what shapes its own files.
struct LineOptions
{
    Settings settings;
    TagVersions tagVersions = TagVersions::Id3v23Only;
    /// The depth that palette pictures report (the front end's displayDepth()).
    std::uint8_t displayDepth = 0;
    /// The locale's character set, which the tag texts are converted to.
    std::string codeset;
    /// Whether movies are measured on the screen (in real time) or on their own clock.
    bool playsMoviesOnScreen = false;
};

/// What an analysis tells the walk as it goes, in the order the walk shows it, and the little
/// it asks of it. An analysis on the walk's own thread tells the front end at once; one on a
/// worker thread records it for the walk to show when the file's turn comes. Only analyses on
/// the walk's own thread play movies: a worker's sink has no player and opens no window.
class AnalysisSink
{
  public:
    virtual ~AnalysisSink();
    /// The file is being analysed (its tags are read, its movie is loaded).
    virtual void analysing() = 0;
    virtual void scanStarted(std::int64_t fileSize) = 0;
    /// False when the walk is to stop: the analysis ends at once.
    [[nodiscard]] virtual bool scanProgress(std::int64_t bytesDone) = 0;
    virtual void scanFinished() = 0;
    /// An entry for the list of files with errors, shown as it is found.
    virtual void errorFound(const std::string& text) = 0;

    /// The run's movie player, started with the first movie; nullptr where none plays.
    virtual MovieSource* moviePlayer() { return nullptr; }
    /// The polling point once a movie is loaded: false when the user asked to stop.
    [[nodiscard]] virtual bool goOnAfterLoad() { return true; }
    /// Asked every tenth of a second while a movie plays for its measurement: false abandons
    /// the movie and ends the walk (the window was closed, the user stopped).
    [[nodiscard]] virtual bool goOnDuringPlay() { return true; }
    /// Opens the window a movie plays in (see WalkReporter::openVideoWindow); 0 for none.
    virtual std::uint64_t openVideoWindow(ScreenPlace /*place*/) { return 0; }
    virtual void closeVideoWindow() {}
};

/// A sink that shows nothing, never stops and plays no movie: for analyses nobody watches.
class QuietSink : public AnalysisSink
{
  public:
    void analysing() override {}
    void scanStarted(std::int64_t /*fileSize*/) override {}
    bool scanProgress(std::int64_t /*bytesDone*/) override { return true; }
    void scanFinished() override {}
    void errorFound(const std::string& /*text*/) override {}
};

/// What the front end is shown when a file's outcome is committed, after what its analysis
/// told on the way.
struct FileShown
{
    /// An MP3 file's facts; the walk fills in the count of files described before it.
    std::optional<Mp3Shown> mp3;
    /// Whether the file has a place for a cover (MP3 files), shown when the front end shows
    /// covers: the cover squeezed to the cover area, or none.
    bool hasCoverPlace = false;
    std::optional<RgbImage> coverArea;
    /// The description as the front end shows it beside the line.
    std::optional<std::string> description;
    /// A movie's rows; the walk fills in the count, this movie included.
    std::optional<MovieRows> movie;
};

/// The one result of analysing a file: what the walk writes for it (the line, the error
/// entries, the icon file, the count) and what it shows. The walk commits it the same way
/// whether the analysis ran on its own thread, on a worker, or came from the description cache.
struct FileOutcome
{
    /// The description in the file's line; none when the file gets no line.
    std::optional<std::string> description;
    /// The file's entries for the list of files with errors, in order. The first errorsTold
    /// of them were told to the sink as they were found; the walk adds the others when it
    /// commits the file.
    std::vector<std::string> errors;
    std::size_t errorsTold = 0;
    /// The icon file's bytes; none to write.
    std::vector<std::uint8_t> iconBytes;
    /// Whether the file counts as a described file.
    bool counted = false;
    /// The walk was asked to stop during the analysis: nothing is written for the file.
    bool stopped = false;
    /// Whether the outcome follows from the file's bytes and the options alone, so that the
    /// description cache may give it again for the same bytes (a player's failure does not).
    bool byBytesAlone = true;
    FileShown shown;

    /// Adds an entry for the list of files with errors and tells the sink at once.
    void tellError(AnalysisSink& sink, const std::string& text)
    {
        errors.insert(errors.begin() + static_cast<std::ptrdiff_t>(errorsTold), text);
        ++errorsTold;
        sink.errorFound(text);
    }
};

/// How much of a file the disk is asked for ahead of the walk.
struct ReadAheadWish
{
    std::size_t startBytes = 0; // 0: nothing
    bool wholeFile = false;
};

/// One kind of file the walk describes: the walk's only view of it. A format says which names
/// are its own, when it is described, what shapes its lines, where it is analysed and how, and
/// returns one FileOutcome per file.
class FileFormat
{
  public:
    virtual ~FileFormat();

    /// A short name, e.g. "mp3", for the cache key and for people.
    [[nodiscard]] virtual std::string_view name() const = 0;
    /// The endings of its file names, in lower case with their dot (".mp3").
    [[nodiscard]] virtual std::span<const std::string_view> extensions() const = 0;
    /// Whether the file name ends with one of the extensions, compared without regard to case.
    [[nodiscard]] bool matches(std::string_view fileName) const;

    /// Whether files of this kind are described under these options; their old lines in a list
    /// are then the walk's own, replaced by what it writes now, or dropped.
    [[nodiscard]] virtual bool isDescribed(const Settings& /*settings*/) const { return true; }
    /// The part of the description cache's key that shapes this format's lines, error entries
    /// and icons: a version of its own and only the options it reads.
    [[nodiscard]] virtual std::string cacheKey(const LineOptions& options) const = 0;
    /// Whether the files are analysed on the worker threads ahead of the walk.
    [[nodiscard]] virtual bool runsOnWorkers() const = 0;
    /// Whether the walk asks the front end whether to go on after each file of this kind that
    /// it counted.
    [[nodiscard]] virtual bool pollsAfter() const = 0;
    /// What the disk is asked for ahead of the walk for a file of this kind.
    [[nodiscard]] virtual ReadAheadWish readAhead(const Settings& /*settings*/) const { return {}; }

    /// Analyses one file from the open file (one that is not open reads as empty); fullPath
    /// names it in what the user is shown. Touches nothing of the run.
    [[nodiscard]] virtual FileOutcome analyse(OpenFile file, const std::string& fullPath,
                                              const AnalysisOptions& options,
                                              AnalysisSink& sink) const = 0;
};

/// The name behind the last "/" of a path.
[[nodiscard]] std::string_view entryNameOf(std::string_view fullPath);

} // namespace tagrelay
