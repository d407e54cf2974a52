#include "movie/movie_elements.h"

#include <algorithm>
#include <array>

namespace tagrelay {

namespace {

constexpr std::array allowedByName{
    // the player and its plumbing; appsrc is the only source: it reads the handed-over file
    std::string_view{"bin"}, std::string_view{"playbin"}, std::string_view{"uridecodebin"},
    std::string_view{"decodebin"}, std::string_view{"playsink"}, std::string_view{"typefind"},
    std::string_view{"queue"}, std::string_view{"multiqueue"}, std::string_view{"input-selector"},
    std::string_view{"tee"}, std::string_view{"capsfilter"}, std::string_view{"identity"},
    std::string_view{"appsrc"}, std::string_view{"streamsynchronizer"},
    // conversions in front of the sinks of a movie that is shown
    std::string_view{"videoconvert"}, std::string_view{"videoscale"},
    std::string_view{"videoconvertscale"}, std::string_view{"deinterlace"},
    std::string_view{"audioconvert"}, std::string_view{"audioresample"}, std::string_view{"volume"},
    // the sinks: unseen, the pictures for the program, the sound card (no display, no sound
    // server: the worker reaches no socket)
    std::string_view{"fakesink"}, std::string_view{"appsink"}, std::string_view{"autoaudiosink"},
    std::string_view{"alsasink"},
    // the containers of AVI and MPEG movies
    std::string_view{"avidemux"}, std::string_view{"mpegpsdemux"}, std::string_view{"tsdemux"},
    // Motion JPEG pictures in AVI files
    std::string_view{"jpegdec"}};

/// Whether "A/B/C" has B among its parts.
bool hasPart(std::string_view klass, std::string_view part)
{
    while (!klass.empty()) {
        const std::size_t slash = klass.find('/');
        if (klass.substr(0, slash) == part)
            return true;
        if (slash == std::string_view::npos)
            break;
        klass.remove_prefix(slash + 1);
    }
    return false;
}

bool hasAnyPart(std::string_view klass, std::initializer_list<std::string_view> parts)
{
    return std::any_of(parts.begin(), parts.end(),
                       [&](std::string_view part) { return hasPart(klass, part); });
}

} // namespace

bool isAllowedMovieElement(std::string_view factory, std::string_view klass)
{
    if (std::find(allowedByName.begin(), allowedByName.end(), factory) != allowedByName.end())
        return true;
    // Decoders and parsers of sound and pictures, but none that drives hardware (it would open
    // devices), reads subtitles or still pictures, or speaks a network protocol.
    if (!hasAnyPart(klass, {"Decoder", "Parser"}) || !hasAnyPart(klass, {"Audio", "Video"}))
        return false;
    return !hasAnyPart(klass, {"Hardware", "Subtitle", "Image", "Network", "Bin", "Demuxer",
                               "Source", "Sink", "Encoder", "Muxer"});
}

} // namespace tagrelay
