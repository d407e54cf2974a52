#pragma once

#include "scan/walk_reporter.h"

#include <functional>
#include <string>
#include <vector>

namespace tagrelay::test {

/// A front end that records what the walk reports, one text per report in the order given
/// ("analysing /t/a.mp3", "mp3 a.mp3 | Artist | Title | 128 | Rock | Stereo | 0:03 min | 0",
/// "description A - T", "error ...", "poll", ...), and answers its questions as a test sets
/// them. The walk's tests assert on this record, not on a window.
class RecordingReporter : public WalkReporter
{
  public:
    std::vector<std::string> reports;
    /// The answer to goOn() and goOnAfterFile(): false at the poll with this number (counted
    /// from 1 over both kinds); 0 never stops.
    int stopAtPoll = 0;
    /// The answer to goOnWhilePlaying(): false at the poll with this number (counted from 1,
    /// apart from the others, and not recorded in reports); 0 never stops.
    int stopAtPlayPoll = 0;
    int playPolls = 0;
    /// Whether scan progress is recorded (a long scan reports once per frame).
    bool recordsProgress = false;
    bool covers = false;
    std::uint8_t depth = noScreenDepth;
    ScreenSize screen;
    std::uint64_t videoWindowId = 0;

    bool showsCovers() const override { return covers; }
    std::uint8_t displayDepth() const override { return depth; }
    ScreenSize screenSize() const override { return screen; }

    void entryStarted() override {}
    void analysing(const std::string& fullPath) override;
    void scanStarted(std::int64_t fileSize) override;
    void scanProgress(std::int64_t bytesDone) override;
    void scanFinished() override;
    void mp3Shown(const Mp3Shown& facts) override;
    void coverShown(const RgbImage* area) override;
    void descriptionShown(const std::string& description) override;
    void movieShown(const MovieRows& rows) override;
    void errorAdded(const std::string& line) override;
    std::uint64_t openVideoWindow(ScreenPlace place) override;
    void closeVideoWindow() override;
    bool goOn() override;
    bool goOnAfterFile() override;
    bool goOnWhilePlaying() override { return ++playPolls != stopAtPlayPoll; }

    /// The reports that start with prefix, in order.
    std::vector<std::string> withPrefix(const std::string& prefix) const;

  private:
    bool poll(const char* what);
    int m_polls = 0;
};

} // namespace tagrelay::test
