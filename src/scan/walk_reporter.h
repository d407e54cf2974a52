#pragma once

#include "formats/shown_facts.h"
#include "picture/picture.h"
#include "platform/movie_picture.h"

#include <cstdint>
#include <string>

namespace tagrelay {

/// What a walk tells its front end as it goes, and what it asks of it. Each front end shows the
/// reports its own way (the window program in its progress display, the command line in a
/// status line); the walk never sees a window. It also says what the front end shows, so the
/// walk does no work that nobody sees. The defaults show nothing and never stop.
class WalkReporter
{
  public:
    virtual ~WalkReporter();

    /// Whether the front end shows each MP3 file's cover; when not, a cover is decoded only
    /// for an icon file.
    virtual bool showsCovers() const { return false; }
    /// Bits per pixel of the screen pictures are shown on, which palette pictures report.
    virtual std::uint8_t displayDepth() const { return noScreenDepth; }
    /// The primary screen a movie is centred on.
    virtual ScreenSize screenSize() const { return {}; }
    /// Whether the front end shows movies in windows (openVideoWindow); when not, the movie
    /// player needs no display and is given no network.
    virtual bool showsMovies() const { return false; }

    /// A new entry of a folder is taken (the last file's scan bar goes).
    virtual void entryStarted() {}
    /// An MP3 file or a movie is being analysed.
    virtual void analysing(const std::string& /*fullPath*/) {}
    /// The stream scan of an MP3 file starts with its bar, over the file's bytes.
    virtual void scanStarted(std::int64_t /*fileSize*/) {}
    virtual void scanProgress(std::int64_t /*bytesDone*/) {}
    /// The stream scan walked the whole file: the analysing line and the bar go.
    virtual void scanFinished() {}
    virtual void mp3Shown(const Mp3Shown& /*facts*/) {}
    /// The cover of the MP3 file squeezed to the cover area, or nullptr for none. Only called
    /// when showsCovers().
    virtual void coverShown(const RgbImage* /*area*/) {}
    /// The description written for an MP3 file, without its quoted name.
    virtual void descriptionShown(const std::string& /*description*/) {}
    virtual void movieShown(const MovieRows& /*rows*/) {}
    /// One more entry of the list of files with errors.
    virtual void errorAdded(const std::string& /*line*/) {}

    /// Opens the top-level window a movie plays in, at a place on the screen, and returns its
    /// native id; 0 when there is no screen to show it on.
    virtual std::uint64_t openVideoWindow(ScreenPlace /*place*/) { return 0; }
    virtual void closeVideoWindow() {}
    /// A new picture of the movie playing in the movie window.
    virtual void moviePictureShown(const MoviePicture& /*picture*/) {}

    /// Takes one pending request of the user; false when the user asked to stop. Asked once per
    /// frame during a stream scan.
    virtual bool goOn() { return true; }
    /// Takes every pending request of the user, twice over; false when one was to stop. Asked
    /// when a file is done and, for a movie, once it is loaded.
    virtual bool goOnAfterFile() { return goOn(); }
    /// The same, asked every tenth of a second while a movie plays for its measurement.
    virtual bool goOnWhilePlaying() { return goOnAfterFile(); }
    /// Whether the user asked to stop, seen without taking any request (a signal that came):
    /// the walk looks at every entry and folder, so a stop is seen at once in a tree of
    /// folders and files it does not describe as well.
    virtual bool isStopRequested() const { return false; }
};

} // namespace tagrelay
