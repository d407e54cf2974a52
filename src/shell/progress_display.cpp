#include "shell/progress_display.h"

#include "picture/cover_picture.h"
#include "platform/clock.h"
#include "platform/clock_text.h"
#include "scan/run_state.h"

#include <map>

namespace tagrelay {

namespace {

constexpr Box pictureArea{360, 160, coverAreaSide, coverAreaSide};
constexpr Box scanProgressBarBox{8, 45, 776, 10};
constexpr Box previewPlace{8, 350, 786, 26};
constexpr Colour paleCyan = 204 + 256 * 255 + 65536 * 255;
constexpr Colour black = 0;

void showPreview(WindowLayer& window, const std::string& description)
{
    window.createGadget(mainWindow, previewList, GadgetKind::MultiLineBox, previewPlace, "");
    window.addLine(previewList, description);
}

} // namespace

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

void showField(WindowLayer& window, int field, const std::string& text)
{
    if (window.hasGadget(field))
        window.setGadgetText(field, text);
    else
        window.createGadget(mainWindow, field, GadgetKind::OneLineField, fieldBox(field), text);
}

void drawPictureArea(WindowLayer& window, const RgbImage* cover)
{
    if (cover != nullptr) {
        window.drawPicture(mainWindow, *cover, pictureArea);
        return;
    }
    const int left = pictureArea.x;
    const int top = pictureArea.y;
    // The corners' own pixels: a line to the box's edge plus one would leave a black pixel
    // beside the area that the next cover does not paint over.
    const int right = left + pictureArea.width - 1;
    const int bottom = top + pictureArea.height - 1;
    window.drawBox(mainWindow, pictureArea, paleCyan);
    window.drawLine(mainWindow, left, top, right, bottom, black);
    window.drawLine(mainWindow, left, bottom, right, top, black);
}

std::uint8_t WindowReporter::displayDepth() const
{
    return static_cast<std::uint8_t>(m_window.screenDepth());
}

ScreenSize WindowReporter::screenSize() const
{
    return {m_window.screenWidth(), m_window.screenHeight()};
}

void WindowReporter::entryStarted()
{
    if (m_window.hasGadget(scanProgressBar))
        m_window.freeGadget(scanProgressBar);
}

void WindowReporter::analysing(const std::string& fullPath)
{
    showField(m_window, analysingField, "Analysing: " + fullPath);
}

void WindowReporter::scanStarted(std::int64_t fileSize)
{
    m_window.createGadget(mainWindow, scanProgressBar, GadgetKind::ProgressBar, scanProgressBarBox,
                          "");
    m_window.setProgressRange(scanProgressBar, 0, fileSize);
}

void WindowReporter::scanProgress(std::int64_t bytesDone)
{
    if (m_window.hasGadget(scanProgressBar))
        m_window.setProgressValue(scanProgressBar, bytesDone);
}

void WindowReporter::scanFinished()
{
    m_window.freeGadget(analysingField);
    m_window.freeGadget(scanProgressBar);
}

void WindowReporter::mp3Shown(const Mp3Shown& facts)
{
    const Settings& settings = m_run.settings;
    showField(m_window, filenameField, "Filename: " + facts.name);
    showField(m_window, artistField, "Artist: " + facts.artist);
    showField(m_window, titleField, "Title: " + facts.title);
    if (settings.showBitrate != 0) {
        showField(m_window, bitrateField, "Bitrate: " + std::to_string(facts.bitrate) + " kbs ");
        showField(m_window, genreField, "Genre: " + facts.genre);
    }
    showField(m_window, channelModeField, facts.channelMode);
    if (settings.showPlaytime != 0)
        showField(m_window, playtimeField, facts.playingTime);
    showField(m_window, fileCountField, "Filecount: " + std::to_string(facts.fileCount));
    showField(m_window, elapsedField, elapsedTimeText(tickSeconds(), m_run.runStartSeconds));
}

void WindowReporter::coverShown(const RgbImage* area)
{
    drawPictureArea(m_window, area);
}

void WindowReporter::descriptionShown(const std::string& description)
{
    showPreview(m_window, description);
}

void WindowReporter::movieShown(const MovieRows& rows)
{
    showField(m_window, filenameField, rows.filename);
    showField(m_window, artistField, rows.size);
    showField(m_window, titleField, rows.fps);
    showField(m_window, bitrateField, rows.blank);
    showField(m_window, genreField, rows.blank);
    showField(m_window, channelModeField, rows.blank);
    showField(m_window, playtimeField, rows.playingTime);
    showField(m_window, fileCountField, rows.fileCount);
    showPreview(m_window, rows.preview);
}

void WindowReporter::walkFinished()
{
    showField(m_window, fileCountField, "Filecount: " + std::to_string(m_run.fileCount));
}

void WindowReporter::errorAdded(const std::string& line)
{
    m_window.addLine(errorListBox, line);
}

std::uint64_t WindowReporter::openVideoWindow(ScreenPlace place)
{
    return m_window.openVideoWindow({place.x, place.y, place.width, place.height});
}

void WindowReporter::closeVideoWindow()
{
    m_window.closeVideoWindow();
}

bool WindowReporter::goOn()
{
    return m_window.pollEvent().kind != EventKind::CloseWindow;
}

bool WindowReporter::goOnAfterFile()
{
    for (int round = 0; round < 2; ++round) {
        for (Event event = m_window.pollEvent(); event.kind != EventKind::None;
             event = m_window.pollEvent()) {
            if (event.kind == EventKind::CloseWindow)
                return false;
        }
    }
    return true;
}

} // namespace tagrelay
