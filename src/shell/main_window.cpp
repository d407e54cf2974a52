#include "shell/main_window.h"

#include "platform/clock.h"
#include "platform/codepage.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "settings/settings_file.h"
#include "shell/end_run.h"
#include "shell/progress_display.h"
#include "window/window_layer.h"

#include <array>

namespace tagrelay {

namespace {

/// A check box of the option panel and the option it carries.
struct OptionBox
{
    int gadget;
    std::int32_t Settings::*flag;
};

constexpr std::array<OptionBox, 14> optionBoxes = {{
    {1, &Settings::showArtist},
    {2, &Settings::showAlbum},
    {3, &Settings::showTitle},
    {4, &Settings::showBitrate},
    {5, &Settings::showAudioMode},
    {6, &Settings::showPlaytime},
    {7, &Settings::showGenre},
    {8, &Settings::makeMp3Icons},
    {11, &Settings::showPictureSize},
    {12, &Settings::showMovieInfo},
    {13, &Settings::makePictureIcons},
    {moreFormatsBox, &Settings::moreFormats},
    {allTagVersionsBox, &Settings::allTagVersions},
    {htmlIndexBox, &Settings::htmlIndex},
}};

/// The sample MP3 file's facts, in the order a description lists them.
struct PreviewFragment
{
    std::int32_t Settings::*flag;
    std::string_view text;
};

constexpr std::array<PreviewFragment, 7> previewFragments = {{
    {&Settings::showArtist, " - Vella Marondi"},
    {&Settings::showAlbum, " - Greatest Hit `86"},
    {&Settings::showTitle, " - The locomotion"},
    {&Settings::showBitrate, " - 192 kbs"},
    {&Settings::showAudioMode, " - Joint Stereo"},
    {&Settings::showPlaytime, " - 3:11 min"},
    {&Settings::showGenre, " - Rock/Pop"},
}};

constexpr std::string_view sampleMp3Line = "Filename: track04.mp3";

/// A control of the option panel with a fixed text (its first line for a multi-line box).
struct PanelGadget
{
    int number;
    GadgetKind kind;
    Box box;
    std::string_view text;
};

// In creation order, which is also the order Tab moves the focus in. The 830-pixel check
// boxes reach past the window's right edge on purpose: their text is cut there.
constexpr std::array<PanelGadget, 9> upperPanel = {{
    {previewBox, GadgetKind::MultiLineBox, {8, 10, 786, 90}, sampleMp3Line},
    {1, GadgetKind::CheckBox, {10, 110, 430, 20}, "MP3: Artist"},
    {2, GadgetKind::CheckBox, {10, 130, 430, 20}, "MP3: Album"},
    {3, GadgetKind::CheckBox, {10, 150, 430, 20}, "MP3: Title"},
    {4, GadgetKind::CheckBox, {10, 170, 430, 20}, "MP3: Bitrate"},
    {5, GadgetKind::CheckBox, {10, 190, 430, 20}, "MP3: AudioMode"},
    {6, GadgetKind::CheckBox, {10, 210, 430, 20}, "MP3: Playtime"},
    {7, GadgetKind::CheckBox, {10, 230, 430, 20}, "MP3: Genre"},
    {8,
     GadgetKind::CheckBox,
     {10, 250, 830, 20},
     "MP3: create %filename%.mp3.ico if picture in Id3-tag "},
}};

constexpr PanelGadget pictureIconBox = {13,
                                        GadgetKind::CheckBox,
                                        {10, 270, 830, 20},
                                        "JPG/BMP: create %filename%.jpg/bmp.ico for pictures"};
constexpr PanelGadget smallerButton = {
    iconSmallerButton, GadgetKind::Button, {20, 290, 20, 20}, "-"};
constexpr Box iconSizeBoxAtStart = {60, 290, 50, 20};
// Each refresh puts the size box back narrower than it first was.
constexpr Box iconSizeBoxRefreshed = {60, 290, 40, 20};

constexpr std::array<PanelGadget, 5> lowerPanel = {{
    {iconLargerButton, GadgetKind::Button, {140, 290, 20, 20}, "+"},
    {iconSizeLabel, GadgetKind::MultiLineBox, {200, 290, 200, 20}, "ico size 32 .. 70"},
    {11,
     GadgetKind::CheckBox,
     {10, 310, 830, 20},
     "JPG/BMP: Dimensions for *.jpg and *.bmp pictures"},
    {12,
     GadgetKind::CheckBox,
     {10, 330, 830, 20},
     "MOVIE: Dimensions for *.avi and *.mpg + frames per sec + playtime"},
    {startButton, GadgetKind::ToggleButton, {10, 390, 430, 30}, "Start and select startdirectory"},
}};

constexpr Box infoBoxPlace = {8, 450, 786, 100};

// The two choices beyond the original panel fill the gap above the start button and come
// last, so every other control keeps its place, its text and its turn in the Tab order.
constexpr std::array<PanelGadget, 2> extraPanel = {{
    {moreFormatsBox,
     GadgetKind::CheckBox,
     {10, 350, 830, 20},
     "MORE: also FLAC OGG OPUS M4A WAV AAC, PNG GIF WEBP HEIC AVIF TIF, MP4 MOV MKV WEBM"},
    {allTagVersionsBox,
     GadgetKind::CheckBox,
     {10, 370, 830, 20},
     "MP3: read Id3v2.2 and Id3v2.4 tags too, genre numbers by name"},
}};

// The list encoding is a choice of three, not a flag: a button right of the start button
// shows it and takes the next one on each click, created last of all for the same reason.
constexpr Box listEncodingPlace = {450, 412, 340, 20};
constexpr std::array<std::string_view, 3> listEncodingTexts = {
    "Lists: locale charset", "Lists: UTF-8", "Lists: UTF-8 + signature"};

// Right of the start button, created after everything else for the same reason.
constexpr PanelGadget htmlIndexPanelBox = {
    htmlIndexBox, GadgetKind::CheckBox, {450, 390, 340, 20}, "HTML: index.html in each folder"};

/// The information lines: what the program does, and which settings the user's web file
/// server needs for the lists and the icon files.
std::array<std::string, 6> infoLines()
{
    return {
        "2008 by " + std::string(authorName) + " <" + std::string(authorAddress)
            + ">: copies the ID3-tag of MP3 files -> Descript.ion.",
        "This Program creates Descript.ion files for all mp3 files.",
        "Simply select what you want to display and it goes from the directory thou all sub-dirs",
        "In Hfs please deaktivate >use OEM For Description<",
        "Warning: bitrate and/or playtime slow my prog a bit if MP3-file is a VBR",
        "How to activate .ico IN HFS-HTML Template??? [file] <tr><td>%new% %Protected% <a "
        "href=\"%item-url%\"><img src=\"%item-name%.ico\" /> %item-name%</a>%comment%",
    };
}

constexpr std::size_t maxInitialSelectionLength = 259;

void createPanelGadget(WindowLayer& window, const PanelGadget& gadget)
{
    window.createGadget(mainWindow, gadget.number, gadget.kind, gadget.box,
                        std::string(gadget.text));
}

void createOptionPanel(WindowLayer& window, const Settings& settings)
{
    for (const PanelGadget& gadget : upperPanel)
        createPanelGadget(window, gadget);
    createPanelGadget(window, pictureIconBox);
    createPanelGadget(window, smallerButton);
    window.createGadget(mainWindow, iconSizeBox, GadgetKind::MultiLineBox, iconSizeBoxAtStart,
                        std::to_string(settings.iconSize));
    for (const PanelGadget& gadget : lowerPanel)
        createPanelGadget(window, gadget);
    const auto lines = infoLines();
    window.createGadget(mainWindow, infoBox, GadgetKind::MultiLineBox, infoBoxPlace, lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i)
        window.addLine(infoBox, lines[i]);
    for (const PanelGadget& gadget : extraPanel)
        createPanelGadget(window, gadget);
    createPanelGadget(window, htmlIndexPanelBox);
    window.createGadget(mainWindow, listEncodingButton, GadgetKind::Button, listEncodingPlace,
                        std::string(listEncodingText(settings.listEncoding)));
}

/// The five values the preview box and the size box currently show.
struct ShownPreview
{
    std::string line;
    std::int32_t pictureSizeTick = 0;
    std::int32_t movieInfoTick = 0;
    std::int32_t pictureIconTick = 0;
    std::int32_t iconSize = 0;
    friend bool operator==(const ShownPreview&, const ShownPreview&) = default;
};

ShownPreview previewOf(const Settings& settings)
{
    return {composePreview(settings), settings.showPictureSize, settings.showMovieInfo,
            settings.makePictureIcons, settings.iconSize};
}

void refreshPreview(WindowLayer& window, const ShownPreview& shown)
{
    window.clearGadget(previewBox);
    window.addLine(previewBox, std::string(sampleMp3Line));
    window.addLine(previewBox, shown.line);
    if (shown.pictureSizeTick != 0) {
        window.addLine(previewBox, "Filename: picture.jpg");
        window.addLine(previewBox, "500 x 400 pixel 24 Bit ");
    }
    if (shown.movieInfoTick != 0) {
        window.addLine(previewBox, "Filename: movie.avi");
        window.addLine(previewBox, "352 x 640 pixel - 24 fps - 58:18 min");
    }
    window.clearGadget(iconSizeBox);
    window.createGadget(mainWindow, iconSizeBox, GadgetKind::MultiLineBox, iconSizeBoxRefreshed,
                        std::to_string(shown.iconSize));
}

void takeNextListEncoding(WindowLayer& window, Settings& settings)
{
    const bool isKnown = settings.listEncoding >= 0 && settings.listEncoding <= largestListEncoding;
    settings.listEncoding = isKnown ? (settings.listEncoding + 1) % (largestListEncoding + 1) : 0;
    window.setGadgetText(listEncodingButton, std::string(listEncodingText(settings.listEncoding)));
}

enum class LoopEnd { StartPressed, Closed };

/// One turn per event until the start button was pressed or the window was closed. The flags
/// follow the check boxes after every turn; the preview is redrawn only when what it shows
/// changed, so the panel does not flicker.
LoopEnd runOptionLoop(WindowLayer& window, Settings& settings)
{
    ShownPreview shown;
    shown.iconSize = settings.iconSize;
    for (;;) {
        const Event event = window.waitEvent();
        bool startPressed = false;
        if (event.kind == EventKind::Gadget) {
            if (event.gadget == startButton)
                startPressed = true;
            else if (event.gadget == iconSmallerButton && settings.iconSize > smallestIconSize)
                --settings.iconSize;
            else if (event.gadget == iconLargerButton && settings.iconSize < largestIconSize)
                ++settings.iconSize;
            else if (event.gadget == listEncodingButton)
                takeNextListEncoding(window, settings);
        }
        for (const OptionBox& box : optionBoxes)
            settings.*box.flag = window.gadgetState(box.gadget);
        const ShownPreview current = previewOf(settings);
        if (current != shown) {
            refreshPreview(window, current);
            shown = current;
        }
        if (startPressed)
            return LoopEnd::StartPressed;
        if (event.kind == EventKind::CloseWindow)
            return LoopEnd::Closed;
    }
}

void removeOptionPanel(WindowLayer& window)
{
    window.setDefaultFont(-1);
    window.releaseFont(panelFont);
    for (const int gadget :
         {0,  1,  2,  3,  4, 5, 6, 7, 8, 9, 11, 12, 13, moreFormatsBox, allTagVersionsBox,
          17, 18, 19, 20, 31})
        window.freeGadget(gadget);
    window.freeGadget(htmlIndexBox);
    window.freeGadget(listEncodingButton);
}

/// The start of a run: the settings are saved around the folder dialog (the chosen directory
/// and the run counter are known only after it), then the chosen tree is walked.
void startRun(WindowLayer& window, RunState& run)
{
    removeOptionPanel(window);
    SettingsWriter settingsFile;
    settingsFile.writeMp3Flags(run.settings);
    window.createGadget(mainWindow, errorListBox, GadgetKind::MultiLineBox, errorListPlace, "");

    std::string chosen = window.chooseFolder(latin1ToLocale("Bitte w\xE4hlen Sie einen Pfad aus"),
                                             initialFolderSelection(run.settings.startDirectory));
    if (!chosen.empty() && chosen.back() != '/')
        chosen += '/';
    run.thankYouDue = applyRunCounter(run.settings);
    // A cancelled dialog keeps the folder remembered from before for the next run.
    if (!chosen.empty())
        run.settings.startDirectory = chosen;
    settingsFile.writeRestAndClose(run.settings);
    run.tagVersions = run.settings.allTagVersions != 0 ? TagVersions::All : TagVersions::Id3v23Only;

    run.fileCount = 0;
    run.runStartSeconds = tickSeconds();
    window.addLine(errorListBox, errorListTitle);
    // A cancelled dialog means the user does not want any folder described; an empty path
    // would make the walk write lists all over the current directory.
    if (chosen.empty())
        return;
    WindowReporter reporter(window, run);
    describeDirectory(chosen, 0, reporter, run);
    reporter.walkFinished();
}

} // namespace

std::string composePreview(const Settings& settings)
{
    std::string line;
    for (const PreviewFragment& fragment : previewFragments) {
        if (settings.*fragment.flag != 0)
            line += fragment.text;
    }
    return line.size() >= 3 ? line.substr(3) : std::string();
}

std::string_view listEncodingText(std::int32_t listEncoding)
{
    const bool isKnown = listEncoding >= 0 && listEncoding <= largestListEncoding;
    return listEncodingTexts[isKnown ? static_cast<std::size_t>(listEncoding) : 0];
}

std::string initialFolderSelection(const std::string& startDirectory)
{
    std::string selection = startDirectory.substr(0, maxInitialSelectionLength);
    if (selection.size() > 1 && selection.back() == '/')
        selection.pop_back();
    return selection;
}

int runProgram(WindowLayer& window, RunState& run)
{
    // Without Courier the system picks a font of its own; nothing to report.
    if (window.loadFont(panelFont, "Courier", 8))
        window.setDefaultFont(panelFont);
    const bool settingsRead = readSettings(run.settings);
    window.openWindow(mainWindow, mainWindowWidth, mainWindowHeight, std::string(mainWindowTitle));
    if (run.settings.iconSize < smallestIconSize)
        run.settings.iconSize = defaultIconSize;
    createOptionPanel(window, run.settings);
    if (settingsRead) {
        for (const OptionBox& box : optionBoxes)
            window.setGadgetState(box.gadget, run.settings.*box.flag);
    }
    if (runOptionLoop(window, run.settings) == LoopEnd::StartPressed)
        startRun(window, run);
    endRun(window, run);
    return 0;
}

} // namespace tagrelay
