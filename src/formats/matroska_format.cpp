#include "formats/matroska_format.h"

#include "formats/exact_duration.h"
#include "formats/movie_format.h"

#include <array>

namespace tagrelay {

namespace {

/// Raise with every change to what a Matroska movie's line or entries are made of.
constexpr int matroskaFormatVersion = 1;

constexpr std::int64_t nanosecondsPerSecond = 1000000000;

constexpr std::array<std::string_view, 2> matroskaExtensions = {".mkv", ".webm"};

/// Block headers are a few bytes between payloads that are passed over: a small window reads
/// no more of each payload than it has to.
constexpr std::size_t matroskaWindowSize = 1024;

ExactDuration durationOf(const MatroskaFacts& facts)
{
    return ExactDuration{facts.durationNs.value_or(0), nanosecondsPerSecond};
}

} // namespace

std::optional<std::string> matroskaDescription(const MatroskaFacts& facts)
{
    if (!facts.video)
        return std::nullopt;
    return containerMovieDescription(facts.video->pixelWidth, facts.video->pixelHeight,
                                     facts.frames, durationOf(facts));
}

std::span<const std::string_view> MatroskaFileFormat::extensions() const
{
    return matroskaExtensions;
}

std::string MatroskaFileFormat::cacheKey(const LineOptions& /*options*/) const
{
    return "matroska " + std::to_string(matroskaFormatVersion);
}

FileOutcome MatroskaFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                        const AnalysisOptions& /*options*/,
                                        AnalysisSink& sink) const
{
    FileOutcome outcome;
    if (!file.isOpen()) {
        outcome.errors.push_back(movieLoadFailureLine(fullPath, "the file cannot be opened"));
        outcome.byBytesAlone = false;
        return outcome;
    }
    sink.analysing();
    ByteReader reader(std::move(file), matroskaWindowSize);
    const MatroskaFacts facts = readMatroska(reader);
    const std::optional<std::string> description = matroskaDescription(facts);
    if (!description) {
        const std::string reason =
            facts.trouble == MatroskaTrouble::None ? "no video track" : facts.troubleText;
        outcome.errors.push_back(movieLoadFailureLine(fullPath, reason));
        return outcome;
    }
    outcome.description = description;
    outcome.counted = true;
    if (facts.trouble == MatroskaTrouble::CutShort)
        outcome.errors.push_back("Movie cut short, its data ends early: " + fullPath);
    else if (facts.trouble != MatroskaTrouble::None)
        outcome.errors.push_back("Movie damaged (" + facts.troubleText + "): " + fullPath);
    else if (facts.frames == 0)
        outcome.errors.push_back("Movie without a video frame: " + fullPath);

    const ExactDuration duration = durationOf(facts);
    MovieRows rows;
    rows.filename = "Filename: " + std::string(entryNameOf(fullPath));
    rows.size = movieSizeText(facts.video->pixelHeight, facts.video->pixelWidth);
    rows.fps = "fps: " + std::to_string(roundedRate(facts.frames, duration));
    rows.playingTime = exactPlayingTimeText(duration);
    rows.preview = *description;
    outcome.shown.movie = rows;
    return outcome;
}

} // namespace tagrelay
