#include "movie_player.h"

#include "element_guard.h"

#include <gst/video/video.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

namespace tagrelay {

namespace {

// playbin's flags (GstPlayFlags, not in the public headers).
constexpr guint playVideo = 0x001;
constexpr guint playAudio = 0x002;
constexpr guint playSoftVolume = 0x010;
constexpr guint playNativeAudio = 0x020;
constexpr guint playNativeVideo = 0x040;
constexpr guint playDeinterlace = 0x200;

/// Unseen play: no subtitles and no conversion in front of sinks that take anything.
constexpr guint unseenFlags = playVideo | playAudio | playNativeAudio | playNativeVideo;
/// Shown: the picture converted for the program, the sound at its volume.
constexpr guint shownFlags = playVideo | playAudio | playSoftVolume | playDeinterlace;

constexpr int prerollLimitMs = 10000;
/// Bytes read from the movie file at a time, when the player names no size, and at most.
constexpr std::uint64_t defaultReadBytes = 64 * 1024;
constexpr std::uint64_t maxReadBytes = 4 * 1024 * 1024;
/// How often a wait for pictures looks whether the movie failed.
constexpr int busCheckMs = 20;
/// How long a load waits, once the whole file was read, for anything to happen.
constexpr int stallMs = 2000;

/// A fake sink that takes whatever arrives as fast as it comes.
ElementPtr unseenSink()
{
    ElementPtr sink = makeElement("fakesink");
    if (sink)
        g_object_set(sink.get(), "sync", FALSE, nullptr);
    return sink;
}

/// A message of the media framework as a reason in the error list: "Stream contains no
/// data." becomes "stream contains no data" (a word in capitals, such as "MPEG", stays).
std::string asReason(std::string text)
{
    while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n'))
        text.pop_back();
    if (text.size() >= 2 && g_ascii_isupper(text[0]) && g_ascii_islower(text[1]))
        text[0] = g_ascii_tolower(text[0]);
    return text;
}

std::string errorText(GstMessage* message)
{
    GError* raw = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &raw, &debug);
    g_free(debug);
    const ErrorPtr error(raw);
    return error && error->message ? asReason(error->message) : "the media framework failed";
}

bool isMissingPlugin(GstMessage* message)
{
    const GstStructure* structure = gst_message_get_structure(message);
    return structure != nullptr && gst_structure_has_name(structure, "missing-plugin");
}

std::string missingPluginText(GstMessage* message)
{
    const GstStructure* structure = gst_message_get_structure(message);
    const gchar* detail = structure ? gst_structure_get_string(structure, "name") : nullptr;
    if (detail == nullptr)
        detail = structure ? gst_structure_get_string(structure, "detail") : nullptr;
    return std::string("no decoder for a stream") + (detail ? std::string(": ") + detail : "");
}

/// The frames in a stretch of time at the rate, rounded down.
std::int64_t framesIn(std::int64_t ns, std::int32_t numerator, std::int32_t denominator)
{
    if (ns <= 0 || numerator <= 0 || denominator <= 0)
        return 0;
    return static_cast<std::int64_t>(
        gst_util_uint64_scale(static_cast<guint64>(ns), static_cast<guint64>(numerator),
                              static_cast<guint64>(denominator) * GST_SECOND));
}

} // namespace

std::variant<MovieFacts, std::string> MoviePlayer::load(int file)
{
    free();
    struct stat status = {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        return std::string("not a regular file");
    }
    m_file = file;
    m_fileSize = static_cast<std::uint64_t>(status.st_size);
    m_readOffset = 0;

    m_pipeline = makeElement("playbin");
    ElementPtr video = unseenSink();
    ElementPtr audio = unseenSink();
    if (!m_pipeline || !video || !audio) {
        free();
        return std::string("the media framework lacks playbin or fakesink");
    }
    // The movie comes from the open file through an application source, which the player
    // reads at any offset as it would a file; it opens nothing itself.
    g_object_set(m_pipeline.get(), "uri", "appsrc://", "video-sink", video.get(), "audio-sink",
                 audio.get(), "flags", unseenFlags, nullptr);
    g_signal_connect(m_pipeline.get(), "source-setup", G_CALLBACK(&MoviePlayer::onSourceSetup),
                     this);
    guardAutoplugging(m_pipeline.get());
    m_gate.reset();
    const PadPtr videoInput(gst_element_get_static_pad(video.get(), "sink"));
    if (videoInput) {
        gst_pad_add_probe(videoInput.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER
                                                       | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &MoviePlayer::onUnseenPicture, this, nullptr);
    }
    m_videoSink = std::move(video);
    m_bus.reset(gst_element_get_bus(m_pipeline.get()));

    if (const std::string failure = awaitPreroll(prerollLimitMs); !failure.empty()) {
        free();
        return failure;
    }

    gint videoStreams = 0;
    gint audioStreams = 0;
    g_object_get(m_pipeline.get(), "n-video", &videoStreams, "n-audio", &audioStreams, nullptr);
    MovieFacts facts;
    if (videoStreams <= 0) {
        if (audioStreams <= 0) {
            free();
            return std::string("neither picture nor sound");
        }
        return facts; // sound only: a movie without a picture
    }

    GstPad* rawPad = nullptr;
    g_signal_emit_by_name(m_pipeline.get(), "get-video-pad", 0, &rawPad);
    const PadPtr pad(rawPad);
    const CapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
    const GstStructure* format = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    gint width = 0;
    gint height = 0;
    gint numerator = 0;
    gint denominator = 0;
    if (format == nullptr || !gst_structure_get_int(format, "width", &width)
        || !gst_structure_get_int(format, "height", &height)
        || !gst_structure_get_fraction(format, "framerate", &numerator, &denominator)) {
        free();
        return std::string(caps ? "picture format unknown" : "no picture in the stream");
    }
    if (numerator <= 0 || denominator <= 0) {
        free();
        return std::string("a still picture, no movie");
    }
    m_hasVideo = true;
    m_width = width;
    m_height = height;
    m_rateNumerator = numerator;
    m_rateDenominator = denominator;
    m_startNs = std::max<std::int64_t>(positionNs(), 0);

    gint64 durationNs = -1;
    if (!gst_element_query_duration(m_videoSink.get(), GST_FORMAT_TIME, &durationNs))
        gst_element_query_duration(m_pipeline.get(), GST_FORMAT_TIME, &durationNs);
    facts.width = width;
    facts.height = height;
    facts.length = framesIn(durationNs, numerator, denominator);
    return facts;
}

bool MoviePlayer::play(bool shown, int pictureBuffer)
{
    releasePictureBuffer();
    if (pictureBuffer >= 0) {
        // The program made the buffer and sealed its size; it must hold a picture of the
        // movie's size, else nothing is copied.
        struct stat status = {};
        const std::size_t needed = static_cast<std::size_t>(m_width) * m_height * 4;
        if (shown && m_hasVideo && needed > 0 && ::fstat(pictureBuffer, &status) == 0
            && static_cast<std::uint64_t>(status.st_size) >= needed) {
            void* mapped =
                ::mmap(nullptr, needed, PROT_READ | PROT_WRITE, MAP_SHARED, pictureBuffer, 0);
            if (mapped != MAP_FAILED) {
                m_pictures = static_cast<std::uint8_t*>(mapped);
                m_pictureBytes = needed;
            }
        }
        ::close(pictureBuffer);
    }
    if (!m_pipeline)
        return false;
    m_shown = shown;
    if (shown) {
        // Shown, the movie runs in real time: nothing holds its pictures back.
        m_gate.open();
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        ElementPtr video = m_hasVideo ? pictureSink() : nullptr;
        ElementPtr audio = makeElement("autoaudiosink");
        if (video)
            m_videoSink = std::move(video);
        else
            g_object_set(m_videoSink.get(), "sync", TRUE, nullptr);
        g_object_set(m_pipeline.get(), "video-sink", m_videoSink.get(), "flags", shownFlags,
                     nullptr);
        if (audio)
            g_object_set(m_pipeline.get(), "audio-sink", audio.get(), nullptr);
    }
    m_playing =
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    return m_playing;
}

MovieReading MoviePlayer::status(std::int64_t atMs)
{
    MovieReading reading;
    if (!m_pipeline || !m_playing)
        return reading;
    if (!m_shown && atMs >= 0)
        return unseenStatus(atMs);
    if (takeEnding(reading))
        return reading;
    reading.picture = copyNewPicture();
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(m_pipeline.get(), &state, &pending, 0);
    if (state == GST_STATE_PAUSED && pending != GST_STATE_PLAYING) {
        reading.frame = -1;
        return reading;
    }
    const std::int64_t position = positionNs();
    if (position < 0)
        return reading;
    const std::int64_t sinceStart = std::max<std::int64_t>(position - m_startNs, 0);
    reading.clockMs = sinceStart / GST_MSECOND;
    if (m_hasVideo) {
        reading.frame = static_cast<std::int32_t>(std::min<std::int64_t>(
            framesIn(sinceStart, m_rateNumerator, m_rateDenominator), INT32_MAX));
    }
    return reading;
}

MovieReading MoviePlayer::unseenStatus(std::int64_t atMs)
{
    MovieReading reading;
    reading.clockMs = atMs;
    if (!m_hasVideo) {
        // Sound alone has no frames: the status stays 0 whatever the moment.
        reading.untilMs = std::numeric_limits<std::int64_t>::max();
        return reading;
    }
    const std::int64_t atNs = std::min(atMs, std::int64_t{24} * 3600 * 1000) * GST_MSECOND;
    for (;;) {
        if (takeEnding(reading))
            return reading;
        const auto gate = m_gate.readingAt(atNs, busCheckMs);
        if (!gate)
            continue;
        if (gate->ended) {
            stop();
            reading.ended = true;
            return reading;
        }
        reading.frame = gate->frame;
        // The frame holds for every whole millisecond before the next picture's time.
        reading.untilMs = (gate->untilNs + GST_MSECOND - 1) / GST_MSECOND;
        return reading;
    }
}

bool MoviePlayer::takeEnding(MovieReading& reading)
{
    constexpr auto wanted = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
    const MessagePtr message(gst_bus_pop_filtered(m_bus.get(), wanted));
    if (!message)
        return false;
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR)
        reading.failure = errorText(message.get());
    stop();
    reading.ended = true;
    return true;
}

void MoviePlayer::stop()
{
    if (!m_pipeline)
        return;
    // A picture held back at the gate would keep the streaming thread from stopping.
    m_gate.open();
    gst_element_set_state(m_pipeline.get(), GST_STATE_READY);
    m_gate.reset();
    m_playing = false;
}

void MoviePlayer::free()
{
    m_gate.open();
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    m_gate.reset();
    if (m_file >= 0)
        ::close(m_file);
    m_file = -1;
    m_fileSize = 0;
    m_shown = false;
    releasePictureBuffer();
    m_width = 0;
    m_height = 0;
    m_bus.reset();
    m_videoSink.reset();
    m_pipeline.reset();
    m_hasVideo = false;
    m_rateNumerator = 0;
    m_rateDenominator = 1;
    m_startNs = 0;
    m_playing = false;
}

std::string MoviePlayer::awaitPreroll(int timeoutMs)
{
    if (gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_NO_PREROLL)
        return "a live source, no movie file";
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A demuxer that fails while its decoder is still being set up has its error swallowed by
    // the decoder, and the player then waits for streams that never come. Once the whole file
    // was read and nothing at all happens for a while, the wait is over.
    auto lastProgress = Clock::now();
    std::uint64_t lastOffset = m_readOffset;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline)
            return "no picture within " + std::to_string(timeoutMs / 1000) + " s";
        if (m_readOffset != lastOffset) {
            lastOffset = m_readOffset;
            lastProgress = now;
        }
        if (lastOffset >= m_fileSize && now - lastProgress >= std::chrono::milliseconds(stallMs))
            return "could not demultiplex stream";
        const MessagePtr message(gst_bus_timed_pop(m_bus.get(), busCheckMs * GST_MSECOND));
        if (!message)
            continue;
        lastProgress = Clock::now();
        switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ERROR:
            return errorText(message.get());
        case GST_MESSAGE_EOS:
            return "ends before its first picture";
        case GST_MESSAGE_ELEMENT:
            // A stream without its decoder: the movie would play only in part.
            if (isMissingPlugin(message.get()))
                return missingPluginText(message.get());
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (GST_MESSAGE_SRC(message.get()) == GST_OBJECT(m_pipeline.get()))
                return {};
            break;
        default:
            break;
        }
    }
}

std::int64_t MoviePlayer::positionNs()
{
    gint64 position = -1;
    if (m_videoSink && gst_element_query_position(m_videoSink.get(), GST_FORMAT_TIME, &position))
        return position;
    if (gst_element_query_position(m_pipeline.get(), GST_FORMAT_TIME, &position))
        return position;
    return -1;
}

GstPadProbeReturn MoviePlayer::onUnseenPicture(GstPad* /*pad*/, GstPadProbeInfo* info,
                                               gpointer self)
{
    auto* player = static_cast<MoviePlayer*>(self);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const auto timeOf = [](GstClockTime time) {
            return GST_CLOCK_TIME_IS_VALID(time) ? static_cast<std::int64_t>(time) : -1;
        };
        player->m_gate.pass(timeOf(GST_BUFFER_PTS(buffer)), timeOf(GST_BUFFER_DURATION(buffer)),
                            player->m_frameNs.load());
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        player->m_gate.end();
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const GstStructure* format = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        gint numerator = 0;
        gint denominator = 0;
        if (format && gst_structure_get_fraction(format, "framerate", &numerator, &denominator)
            && numerator > 0 && denominator > 0) {
            player->m_frameNs = static_cast<std::int64_t>(gst_util_uint64_scale(
                GST_SECOND, static_cast<guint64>(denominator), static_cast<guint64>(numerator)));
        }
    }
    return GST_PAD_PROBE_OK;
}

void MoviePlayer::onSourceSetup(GstElement* /*player*/, GstElement* source, gpointer self)
{
    if (!GST_IS_APP_SRC(source))
        return;
    auto* player = static_cast<MoviePlayer*>(self);
    GstAppSrc* input = GST_APP_SRC(source);
    gst_app_src_set_stream_type(input, GST_APP_STREAM_TYPE_RANDOM_ACCESS);
    gst_app_src_set_size(input, static_cast<gint64>(player->m_fileSize));
    g_object_set(source, "format", GST_FORMAT_BYTES, nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = &MoviePlayer::onNeedData;
    callbacks.seek_data = &MoviePlayer::onSeekData;
    gst_app_src_set_callbacks(input, &callbacks, player, nullptr);
}

void MoviePlayer::onNeedData(GstAppSrc* source, guint length, gpointer self)
{
    auto* player = static_cast<MoviePlayer*>(self);
    const std::uint64_t offset = player->m_readOffset;
    const std::uint64_t left = offset < player->m_fileSize ? player->m_fileSize - offset : 0;
    const std::uint64_t wanted = length == 0 || length == G_MAXUINT ? defaultReadBytes : length;
    const auto size = static_cast<gsize>(std::min({wanted, left, std::uint64_t{maxReadBytes}}));
    if (size == 0) {
        gst_app_src_end_of_stream(source);
        return;
    }
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    GstMapInfo map;
    ssize_t got = -1;
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        do {
            got = ::pread(player->m_file, map.data, size, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        gst_buffer_unmap(buffer, &map);
    }
    if (got <= 0) {
        if (buffer != nullptr)
            gst_buffer_unref(buffer);
        gst_app_src_end_of_stream(source);
        return;
    }
    gst_buffer_set_size(buffer, got);
    GST_BUFFER_OFFSET(buffer) = offset;
    player->m_readOffset = offset + static_cast<std::uint64_t>(got);
    gst_app_src_push_buffer(source, buffer);
}

gboolean MoviePlayer::onSeekData(GstAppSrc* /*source*/, guint64 offset, gpointer self)
{
    auto* player = static_cast<MoviePlayer*>(self);
    if (offset > player->m_fileSize)
        return FALSE;
    player->m_readOffset = offset;
    return TRUE;
}

ElementPtr MoviePlayer::pictureSink()
{
    ElementPtr sink = makeElement("appsink");
    if (!sink)
        return nullptr;
    // Renders on time, keeps only the newest picture, never holds the stream back.
    const CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                           G_TYPE_INT, m_width, "height", G_TYPE_INT, m_height,
                                           nullptr));
    g_object_set(sink.get(), "sync", TRUE, "max-buffers", 1U, "drop", TRUE, "emit-signals", FALSE,
                 "caps", caps.get(), nullptr);
    return sink;
}

std::optional<PictureCopy> MoviePlayer::copyNewPicture()
{
    if (m_pictures == nullptr || !m_videoSink || !GST_IS_APP_SINK(m_videoSink.get()))
        return std::nullopt;
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_videoSink.get()), 0);
    if (sample == nullptr)
        return std::nullopt;
    std::optional<PictureCopy> copy;
    GstVideoInfo info;
    GstVideoFrame frame;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && GST_VIDEO_INFO_WIDTH(&info) == m_width && GST_VIDEO_INFO_HEIGHT(&info) == m_height
        && gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        const auto row = static_cast<std::size_t>(m_width) * 4;
        const auto* from = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const auto fromStride = static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
        for (std::size_t y = 0; y < static_cast<std::size_t>(m_height); ++y)
            std::memcpy(m_pictures + y * row, from + y * fromStride, row);
        gst_video_frame_unmap(&frame);
        copy = PictureCopy{++m_pictureSequence, m_width, m_height, static_cast<std::int32_t>(row),
                           GST_BUFFER_PTS_IS_VALID(buffer)
                               ? static_cast<std::int64_t>(GST_BUFFER_PTS(buffer)) - m_startNs
                               : -1};
    }
    gst_sample_unref(sample);
    return copy;
}

void MoviePlayer::releasePictureBuffer()
{
    if (m_pictures != nullptr)
        ::munmap(m_pictures, m_pictureBytes);
    m_pictures = nullptr;
    m_pictureBytes = 0;
    m_pictureSequence = 0;
}

} // namespace tagrelay
