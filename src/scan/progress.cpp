#include "scan/progress.h"

#include "platform/clock.h"
#include "scan/run_state.h"
#include "tags/track_facts.h"
#include "window/window_layer.h"

#include <cmath>
#include <map>

namespace tagrelay {

namespace {

/// Where each one-line field of the progress display lies.
Box fieldBox(int field)
{
    static const std::map<int, Box> boxes = {
        {analysingField, {8, 10, 776, 30}},    {filenameField, {8, 70, 776, 26}},
        {artistField, {8, 100, 776, 26}},      {titleField, {8, 130, 776, 26}},
        {bitrateField, {8, 160, 150, 26}},     {genreField, {160, 160, 180, 26}},
        {channelModeField, {8, 190, 150, 26}}, {playtimeField, {8, 220, 150, 26}},
        {fileCountField, {8, 250, 150, 26}},   {elapsedField, {160, 250, 180, 26}},
    };
    const auto found = boxes.find(field);
    return found == boxes.end() ? Box{} : found->second;
}

std::string twoDigits(long value)
{
    const std::string text = std::to_string(value);
    return text.size() == 1 ? "0" + text : text;
}

constexpr Box pictureArea{360, 160, 150, 150};
constexpr Box scanProgressBarBox{8, 45, 776, 10};
constexpr Colour paleCyan = 204 + 256 * 255 + 65536 * 255;
constexpr Colour black = 0;

} // namespace

void openWalkWindow(WindowLayer& window, const std::string& title)
{
    window.openWindow(mainWindow, 800, 600, title);
    window.createGadget(mainWindow, errorListBox, GadgetKind::MultiLineBox, errorListPlace,
                        errorListTitle);
}

void addError(RunState& run, WindowLayer& window, const std::string& text)
{
    run.errors.push_back(text);
    window.addLine(errorListBox, text);
}

void showScanProgressBar(WindowLayer& window, std::int64_t fileSize)
{
    window.createGadget(mainWindow, scanProgressBar, GadgetKind::ProgressBar, scanProgressBarBox,
                        "");
    window.setProgressRange(scanProgressBar, 0, fileSize);
}

void showField(WindowLayer& window, int field, const std::string& text)
{
    if (window.hasGadget(field))
        window.setGadgetText(field, text);
    else
        window.createGadget(mainWindow, field, GadgetKind::OneLineField, fieldBox(field), text);
}

void showAnalysing(WindowLayer& window, const std::string& fullPath)
{
    showField(window, analysingField, "Analysing: " + fullPath);
}

void showPreview(WindowLayer& window, const std::string& description)
{
    window.createGadget(mainWindow, previewList, GadgetKind::MultiLineBox, {8, 350, 786, 26}, "");
    window.addLine(previewList, description);
}

std::string elapsedTimeText(float nowSeconds, float startSeconds)
{
    return elapsedClockText(nowSeconds, startSeconds) + " Time elapsed";
}

std::string elapsedClockText(float nowSeconds, float startSeconds)
{
    const float elapsed = nowSeconds - startSeconds;
    const float hours = std::floor(elapsed / 60.0f / 60.0f);
    const float minutes = std::floor(elapsed / 60.0f - hours * 60.0f);
    const float seconds = std::floor(elapsed - minutes * 60.0f - hours * 3600.0f);
    return std::to_string(static_cast<long>(hours)) + ":" + twoDigits(static_cast<long>(minutes))
           + ":" + twoDigits(static_cast<long>(seconds));
}

bool needsNewTag(const std::string& artist, const std::string& title)
{
    return !artist.empty() && !title.empty() && artist.back() == '?' && title.back() == '?';
}

void showMp3Facts(WindowLayer& window, const RunState& run, const TrackFacts& facts,
                  const std::string& name, const std::string& genreText,
                  const std::string& playingTime)
{
    showField(window, filenameField, "Filename: " + name);
    showField(window, artistField, "Artist: " + facts.artist);
    showField(window, titleField, "Title: " + facts.title);
    if (run.settings.showBitrate != 0) {
        showField(window, bitrateField, "Bitrate: " + std::to_string(facts.bitrate) + " kbs ");
        showField(window, genreField, "Genre: " + genreText);
    }
    showField(window, channelModeField, facts.channelMode);
    if (run.settings.showPlaytime != 0)
        showField(window, playtimeField, playingTime);
    showField(window, fileCountField, "Filecount: " + std::to_string(run.fileCount));
    showField(window, elapsedField, elapsedTimeText(tickSeconds(), run.runStartSeconds));
}

void drawPictureArea(WindowLayer& window, const RgbImage* cover)
{
    if (cover != nullptr) {
        window.drawPicture(mainWindow, *cover, pictureArea);
        return;
    }
    window.drawBox(mainWindow, pictureArea, paleCyan);
    window.drawLine(mainWindow, 360, 160, 510, 310, black);
    window.drawLine(mainWindow, 360, 310, 510, 160, black);
}

} // namespace tagrelay
