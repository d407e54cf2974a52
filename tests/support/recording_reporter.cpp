#include "support/recording_reporter.h"

namespace tagrelay::test {

void RecordingReporter::analysing(const std::string& fullPath)
{
    reports.push_back("analysing " + fullPath);
}

void RecordingReporter::scanStarted(std::int64_t fileSize)
{
    reports.push_back("scan of " + std::to_string(fileSize));
}

void RecordingReporter::scanProgress(std::int64_t bytesDone)
{
    if (recordsProgress)
        reports.push_back("progress " + std::to_string(bytesDone));
}

void RecordingReporter::scanFinished()
{
    reports.push_back("scan finished");
}

void RecordingReporter::mp3Shown(const Mp3Shown& facts)
{
    reports.push_back("mp3 " + facts.name + " | " + facts.artist + " | " + facts.title + " | "
                      + std::to_string(facts.bitrate) + " | " + facts.genre + " | "
                      + facts.channelMode + " | " + facts.playingTime + " | "
                      + std::to_string(facts.fileCount));
}

void RecordingReporter::coverShown(const RgbImage* area)
{
    reports.push_back(area != nullptr ? "cover " + std::to_string(area->width) + "x"
                                            + std::to_string(area->height)
                                      : "no cover");
}

void RecordingReporter::descriptionShown(const std::string& description)
{
    reports.push_back("description " + description);
}

void RecordingReporter::movieShown(const MovieRows& rows)
{
    reports.push_back("movie " + rows.filename + " | " + rows.size + " | " + rows.fps + " | "
                      + rows.playingTime + " | " + rows.fileCount + " | " + rows.preview);
}

void RecordingReporter::errorAdded(const std::string& line)
{
    reports.push_back("error " + line);
}

std::uint64_t RecordingReporter::openVideoWindow(ScreenPlace place)
{
    reports.push_back("open window " + std::to_string(place.x) + "," + std::to_string(place.y) + " "
                      + std::to_string(place.width) + "x" + std::to_string(place.height));
    return videoWindowId;
}

void RecordingReporter::closeVideoWindow()
{
    reports.push_back("close window");
}

bool RecordingReporter::poll(const char* what)
{
    reports.push_back(what);
    return ++m_polls != stopAtPoll;
}

bool RecordingReporter::goOn()
{
    return poll("poll");
}

bool RecordingReporter::goOnAfterFile()
{
    return poll("poll after file");
}

std::vector<std::string> RecordingReporter::withPrefix(const std::string& prefix) const
{
    std::vector<std::string> found;
    for (const std::string& report : reports) {
        if (report.starts_with(prefix))
            found.push_back(report);
    }
    return found;
}

} // namespace tagrelay::test
