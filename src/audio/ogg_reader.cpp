#include "audio/ogg_reader.h"

#include "audio/sequential_bytes.h"
#include "audio/vorbis_comment.h"
#include "platform/byte_reader.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <span>

namespace tagrelay {

namespace {

constexpr std::size_t pageHeaderSize = 27;
constexpr std::uint8_t continuedFlag = 0x01;
constexpr std::uint8_t firstPageFlag = 0x02;
constexpr std::uint8_t lastPageFlag = 0x04;
constexpr std::int64_t opusRate = 48000;
constexpr std::int64_t progressStep = 4 * 1024 * 1024;

// Products of 64-bit values stay exact in 128 bits (GCC and Clang, also for Windows).
__extension__ typedef __int128 Wide;

enum class Codec { Vorbis, Opus };

std::uint64_t littleEndian(const std::uint8_t* b, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | b[i];
    return value;
}

/// One logical stream of the track (a link of a chained file).
struct Link
{
    Codec codec = Codec::Vorbis;
    std::uint32_t serial = 0;
    std::int64_t rate = 0;
    std::int64_t preSkip = 0;
    std::int64_t lastGranule = -1;
    std::int64_t packets = 0; // complete packets so far
    std::int64_t pending = 0; // bytes of the packet not yet ended
    bool sawLaterPage = false;
    bool ended = false;

    std::int64_t headerPackets() const { return codec == Codec::Vorbis ? 3 : 2; }
};

/// The link begun by a first page whose first packet is a Vorbis or Opus identification header.
std::optional<Link> linkOf(std::span<const std::uint8_t> packet, std::uint32_t serial,
                           std::int32_t& channels)
{
    Link link;
    link.serial = serial;
    if (packet.size() >= 30 && packet[0] == 1 && std::memcmp(packet.data() + 1, "vorbis", 6) == 0) {
        link.codec = Codec::Vorbis;
        channels = packet[11];
        link.rate = static_cast<std::int64_t>(littleEndian(packet.data() + 12, 4));
        return link;
    }
    if (packet.size() >= 19 && std::memcmp(packet.data(), "OpusHead", 8) == 0) {
        link.codec = Codec::Opus;
        channels = packet[9];
        link.preSkip = static_cast<std::int64_t>(littleEndian(packet.data() + 10, 2));
        link.rate = opusRate;
        return link;
    }
    return std::nullopt;
}

/// Sums the links' durations as one fraction of seconds.
class DurationSum
{
  public:
    static constexpr std::int64_t maxScale = std::int64_t{1} << 40;
    static constexpr std::int64_t maxTicks = std::int64_t{1} << 62;

    void add(std::int64_t ticks, std::int64_t rate)
    {
        if (rate <= 0)
            return;
        ticks = std::max<std::int64_t>(ticks, 0);
        if (m_scale == 0) {
            m_ticks = ticks;
            m_scale = rate;
            return;
        }
        if (rate != m_scale) {
            // Links of other rates: a common scale (44100 and 48000 give 7056000). Rates no
            // real stream has, whose common scale would not fit, are counted in the first
            // link's scale, cut to whole ticks.
            const Wide common = Wide{m_scale / std::gcd(m_scale, rate)} * rate;
            if (common <= maxScale) {
                const Wide scaled = Wide{m_ticks} * (common / m_scale);
                if (scaled <= maxTicks) {
                    m_ticks = static_cast<std::int64_t>(scaled);
                    m_scale = static_cast<std::int64_t>(common);
                }
            }
            ticks =
                static_cast<std::int64_t>(std::min<Wide>(Wide{ticks} * m_scale / rate, maxTicks));
        }
        m_ticks = static_cast<std::int64_t>(std::min<Wide>(Wide{m_ticks} + ticks, maxTicks));
    }
    std::int64_t ticks() const { return m_ticks; }
    std::int64_t scale() const { return m_scale; }

  private:
    std::int64_t m_ticks = 0;
    std::int64_t m_scale = 0;
};

class OggWalk
{
  public:
    OggWalk(const AudioReadOptions& options, AudioTrack& track) : m_options(options), m_track(track)
    {
    }

    /// Takes one whole page; false when the walk has what it wants.
    bool takePage(const std::uint8_t* page, std::size_t segments,
                  std::span<const std::uint8_t> body)
    {
        const std::uint8_t flags = page[5];
        const auto granule = static_cast<std::int64_t>(littleEndian(page + 6, 8));
        const auto serial = static_cast<std::uint32_t>(littleEndian(page + 14, 4));
        const std::uint8_t* lacing = page + pageHeaderSize;

        if ((flags & firstPageFlag) != 0) {
            // A first page of an audio stream begins the next link once the current one has
            // gone past its first pages; during them it is another stream beside it.
            std::size_t firstLength = 0;
            for (std::size_t i = 0; i < segments; ++i) {
                firstLength += lacing[i];
                if (lacing[i] < 255)
                    break;
            }
            std::int32_t channels = 0;
            const auto link =
                linkOf(body.first(std::min(firstLength, body.size())), serial, channels);
            if (link && (!m_inLink || m_link.sawLaterPage)) {
                finishLink();
                m_link = *link;
                m_inLink = true;
                if (m_linkCount++ == 0) {
                    m_track.channels = channels;
                    m_track.sampleRate = static_cast<std::int32_t>(link->rate);
                }
            }
        }
        if (!m_inLink || serial != m_link.serial)
            return true;
        Link& link = m_link;
        if ((flags & firstPageFlag) == 0)
            link.sawLaterPage = true;
        if ((flags & continuedFlag) == 0 && link.pending > 0) {
            m_track.addProblem("a packet broken off between pages");
            link.pending = 0;
        }
        std::size_t offset = 0;
        for (std::size_t i = 0; i < segments; ++i) {
            const std::uint8_t value = lacing[i];
            if (m_linkCount == 1 && link.packets == 1 && !m_commentTooLarge) {
                if (static_cast<std::int64_t>(m_comment.size()) + value > maxHeldBlockBytes) {
                    m_commentTooLarge = true;
                    m_comment.clear();
                    m_comment.shrink_to_fit();
                } else {
                    m_comment.insert(m_comment.end(),
                                     body.begin() + static_cast<std::ptrdiff_t>(offset),
                                     body.begin() + static_cast<std::ptrdiff_t>(offset + value));
                }
            }
            offset += value;
            link.pending += value;
            if (value == 255)
                continue;
            endPacket(link);
        }
        if (granule != -1)
            link.lastGranule = granule;
        if ((flags & lastPageFlag) != 0)
            link.ended = true;
        return m_options.walksStream || m_linkCount > 1 || link.packets < 2;
    }

    void finish()
    {
        if (!m_inLink) {
            m_track.addProblem("no Vorbis or Opus stream");
            return;
        }
        if (m_options.walksStream && !m_link.ended)
            m_track.addProblem("the stream has no last page (truncated)");
        finishLink();
        if (m_linkCount > 0 && m_firstLinkHeaders < 2)
            m_track.addProblem("no comment header");
        m_track.isVbr = m_audioPackets == 0 || m_minPacket != m_maxPacket;
        if (m_options.walksStream) {
            m_track.durationTicks = m_duration.ticks();
            m_track.durationScale = m_duration.scale();
        }
    }

  private:
    void endPacket(Link& link)
    {
        const std::int64_t size = link.pending;
        link.pending = 0;
        if (link.packets >= link.headerPackets()) {
            m_track.payloadBytes += size;
            m_minPacket = m_audioPackets == 0 ? size : std::min(m_minPacket, size);
            m_maxPacket = std::max(m_maxPacket, size);
            ++m_audioPackets;
        } else if (m_linkCount == 1 && link.packets == 1) {
            readComment(link);
        }
        ++link.packets;
    }

    void readComment(const Link& link)
    {
        m_firstLinkHeaders = 2;
        if (m_commentTooLarge)
            return;
        const std::size_t magic = link.codec == Codec::Vorbis ? 7 : 8;
        const bool hasMagic =
            m_comment.size() >= magic
            && (link.codec == Codec::Vorbis
                    ? m_comment[0] == 3 && std::memcmp(m_comment.data() + 1, "vorbis", 6) == 0
                    : std::memcmp(m_comment.data(), "OpusTags", 8) == 0);
        if (!hasMagic)
            m_track.addProblem("damaged comment header");
        else if (!readVorbisComment(std::span(m_comment).subspan(magic), m_options.covers,
                                    m_track.tags))
            m_track.addProblem("damaged comment header");
        m_comment.clear();
        m_comment.shrink_to_fit();
    }

    void finishLink()
    {
        if (!m_inLink)
            return;
        if (m_link.lastGranule < 0) {
            if (m_options.walksStream)
                m_track.addProblem("no granule position");
        } else
            m_duration.add(m_link.lastGranule - m_link.preSkip, m_link.rate);
        m_inLink = false;
    }

    const AudioReadOptions& m_options;
    AudioTrack& m_track;
    /// The link being read, while m_inLink.
    Link m_link;
    bool m_inLink = false;
    int m_linkCount = 0;
    int m_firstLinkHeaders = 0;
    std::vector<std::uint8_t> m_comment;
    bool m_commentTooLarge = false;
    DurationSum m_duration;
    std::int64_t m_audioPackets = 0;
    std::int64_t m_minPacket = 0;
    std::int64_t m_maxPacket = 0;
};

bool isPageStart(const std::uint8_t* at)
{
    return std::memcmp(at, "OggS", 4) == 0 && at[4] == 0;
}

/// The offset of the first "OggS" behind the first byte, or of the last three bytes (which
/// may begin one) when there is none; at least 1.
std::size_t findPageStart(const std::uint8_t* bytes, std::size_t count)
{
    std::size_t at = 1;
    while (at + 4 <= count) {
        const auto* o = static_cast<const std::uint8_t*>(std::memchr(bytes + at, 'O', count - at));
        if (o == nullptr)
            return count;
        at = static_cast<std::size_t>(o - bytes);
        if (at + 4 <= count && std::memcmp(o, "OggS", 4) == 0)
            return at;
        ++at;
    }
    return std::max<std::size_t>(1, count >= 3 ? count - 3 : count);
}

} // namespace

AudioTrack readOgg(ByteReader& file, const AudioReadOptions& options)
{
    AudioTrack track;
    if (!file.isOpen()) {
        track.addProblem("cannot be read");
        return track;
    }
    OggWalk walk(options, track);
    SequentialBytes bytes(file, 0, file.size());
    std::int64_t nextProgress = 0;
    bool lostSync = false;
    while (bytes.ensure(pageHeaderSize) > 0) {
        if (options.progress && bytes.position() >= nextProgress) {
            if (!options.progress(bytes.position())) {
                track.stopped = true;
                return track;
            }
            nextProgress = bytes.position() + progressStep;
        }
        if (bytes.available() < pageHeaderSize) {
            track.addProblem("truncated page");
            break;
        }
        if (!isPageStart(bytes.data())) {
            // Bytes that are no page: on to the next capture pattern.
            if (!lostSync)
                track.addProblem(bytes.position() == 0 ? "no Ogg page at the start"
                                                       : "damaged page");
            lostSync = true;
            const std::size_t next = findPageStart(bytes.data(), bytes.available());
            bytes.advance(static_cast<std::int64_t>(next));
            continue;
        }
        lostSync = false;
        const std::size_t segments = bytes.data()[26];
        if (bytes.ensure(pageHeaderSize + segments) < pageHeaderSize + segments) {
            track.addProblem("truncated page");
            break;
        }
        std::size_t bodySize = 0;
        for (std::size_t i = 0; i < segments; ++i)
            bodySize += bytes.data()[pageHeaderSize + i];
        const std::size_t pageSize = pageHeaderSize + segments + bodySize;
        if (bytes.ensure(pageSize) < pageSize) {
            track.addProblem("truncated page");
            break;
        }
        const std::uint8_t* page = bytes.data();
        if (!walk.takePage(page, segments, std::span(page + pageHeaderSize + segments, bodySize)))
            break;
        bytes.advance(static_cast<std::int64_t>(pageSize));
    }
    walk.finish();
    return track;
}

} // namespace tagrelay
