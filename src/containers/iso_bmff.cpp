#include "containers/iso_bmff.h"

#include "platform/byte_reader.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <sstream>

namespace tagrelay {

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

/// a + b, held at the int64 limit instead of wrapping.
std::int64_t addHeld(std::int64_t a, std::int64_t b)
{
    return a > int64Max - b ? int64Max : a + b;
}

/// a * b for non-negative factors, held at the int64 limit.
std::int64_t mulHeld(std::int64_t a, std::int64_t b)
{
    if (a == 0 || b == 0)
        return 0;
    return a > int64Max / b ? int64Max : a * b;
}

/// One box: its type and where its payload starts and it ends (the end already cut back to
/// its parent's).
struct Box
{
    std::uint32_t type = 0;
    std::int64_t start = 0;
    std::int64_t payload = 0;
    std::int64_t end = 0;

    std::int64_t payloadSize() const { return end - payload; }
};

/// Whether a type could open an ISO base media file.
bool isTopLevelType(std::uint32_t type)
{
    for (const std::uint32_t known :
         {fourCc("ftyp"), fourCc("moov"), fourCc("mdat"), fourCc("free"), fourCc("skip"),
          fourCc("wide"), fourCc("pnot"), fourCc("styp"), fourCc("moof"), fourCc("uuid"),
          fourCc("sidx")}) {
        if (type == known)
            return true;
    }
    return false;
}

/// The channels of the AAC configuration in an esds box's descriptors (ES, decoder config,
/// decoder specific info); 0 when it has none or leaves them to a program config element.
int aacChannels(const std::vector<std::uint8_t>& bytes)
{
    std::size_t at = 0;
    const auto descriptor = [&](std::uint8_t tag) -> std::size_t {
        if (at >= bytes.size() || bytes[at] != tag)
            return 0;
        ++at;
        std::size_t length = 0;
        for (int i = 0; i < 4 && at < bytes.size(); ++i) {
            const std::uint8_t byte = bytes[at++];
            length = (length << 7) | (byte & 0x7F);
            if ((byte & 0x80) == 0)
                break;
        }
        return std::min(length, bytes.size() - std::min(at, bytes.size()));
    };
    if (descriptor(0x03) < 3)
        return 0;
    const std::uint8_t flags = bytes[at + 2];
    at += 3;
    if ((flags & 0x80) != 0)
        at += 2; // the stream it depends on
    if ((flags & 0x40) != 0 && at < bytes.size())
        at += 1 + std::size_t{bytes[at]}; // a URL: never opened
    if ((flags & 0x20) != 0)
        at += 2;
    if (descriptor(0x04) < 13)
        return 0;
    at += 13;
    if (descriptor(0x05) < 2)
        return 0;
    // audioObjectType (5 bits, 31: 6 more), the rate index (4 bits, 15: 24 more), channels.
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i)
        bits = (bits << 8) | (at + i < bytes.size() ? bytes[at + i] : 0);
    int used = 5;
    if ((bits >> 59) == 31)
        used += 6;
    const auto rateIndex = static_cast<int>((bits >> (60 - used)) & 0x0F);
    used += rateIndex == 15 ? 28 : 4;
    const auto config = static_cast<int>((bits >> (60 - used)) & 0x0F);
    return config == 7 ? 8 : config <= 6 ? config : 0;
}

/// The walk over one file's boxes.
class Walker
{
  public:
    Walker(ByteReader& file, IsoCover cover) : m_file(file), m_cover(cover) {}

    IsoFacts walk()
    {
        const std::int64_t fileEnd = m_file.size();
        std::int64_t at = 0;
        bool first = true;
        Box box;
        while (nextBox(at, fileEnd, box)) {
            if (first) {
                m_facts.isIsoFile = isTopLevelType(box.type);
                if (!m_facts.isIsoFile)
                    break;
                first = false;
            }
            if (box.type == fourCc("moov") && !m_facts.hasMovie) {
                m_facts.hasMovie = true;
                readMovie(box);
            } else if (box.type == fourCc("moof")) {
                readChildren(box, 1, [this](const Box& child, int) {
                    if (child.type == fourCc("traf"))
                        readTrackFragment(child);
                });
            }
            // mdat and the rest are passed over: only their headers are read.
            at = box.end;
        }
        return std::move(m_facts);
    }

  private:
    std::uint32_t u32At(std::int64_t offset)
    {
        m_file.seek(offset);
        return m_file.readU32BigEndian();
    }
    std::uint16_t u16At(std::int64_t offset)
    {
        m_file.seek(offset);
        const auto high = m_file.readU8();
        return static_cast<std::uint16_t>((high << 8) | m_file.readU8());
    }
    std::uint64_t u64At(std::int64_t offset)
    {
        const std::uint64_t high = u32At(offset);
        return (high << 32) | m_file.readU32BigEndian();
    }
    /// An unsigned 64-bit value as a duration or count: larger ones (also the all-ones
    /// "unknown") count as none.
    static std::int64_t heldValue(std::uint64_t value)
    {
        return value > static_cast<std::uint64_t>(int64Max) ? 0 : static_cast<std::int64_t>(value);
    }

    /// Reads the header of the box at `at` inside [.., parentEnd); false at the end, for a
    /// header that does not fit, and once the count of boxes is spent.
    bool nextBox(std::int64_t at, std::int64_t parentEnd, Box& box)
    {
        if (parentEnd - at < 8)
            return false;
        if (++m_boxes > isoMaxBoxes) {
            m_facts.hitLimit = true;
            return false;
        }
        const std::uint64_t size32 = u32At(at);
        box.type = m_file.readU32BigEndian();
        box.start = at;
        box.payload = at + 8;
        std::uint64_t size = size32;
        if (size32 == 1) {
            if (parentEnd - at < 16)
                return false;
            size = u64At(at + 8);
            box.payload = at + 16;
        } else if (size32 == 0) {
            size = static_cast<std::uint64_t>(parentEnd - at);
        }
        if (size < static_cast<std::uint64_t>(box.payload - at))
            return false; // a size smaller than its own header: nothing more can be trusted
        const auto room = static_cast<std::uint64_t>(parentEnd - at);
        if (size > room) {
            if (parentEnd >= m_file.size())
                m_facts.isCut = true;
            size = room;
        }
        box.end = at + static_cast<std::int64_t>(size);
        return true;
    }

    /// Calls visit(child, depth) for each box inside parent's payload from `from` on.
    template <typename Visit>
    void readChildren(const Box& parent, int depth, Visit visit, std::int64_t from = -1)
    {
        if (depth > isoMaxDepth) {
            m_facts.hitLimit = true;
            return;
        }
        std::int64_t at = from < 0 ? parent.payload : from;
        Box child;
        while (nextBox(at, parent.end, child)) {
            visit(child, depth);
            at = child.end;
        }
    }

    void readMovie(const Box& moov)
    {
        readChildren(moov, 1, [this](const Box& box, int depth) {
            const std::uint32_t type = box.type;
            if (type == fourCc("mvhd") && box.payloadSize() >= 20) {
                const bool v1 = u32At(box.payload) >> 24 == 1;
                m_facts.movieTimescale = u32At(box.payload + (v1 ? 20 : 12));
                m_facts.movieDuration = v1 && box.payloadSize() >= 32
                                            ? heldValue(u64At(box.payload + 24))
                                            : u32At(box.payload + 16);
                if (!v1 && m_facts.movieDuration == 0xFFFFFFFF)
                    m_facts.movieDuration = 0;
            } else if (type == fourCc("trak")) {
                readTrack(box, depth + 1);
            } else if (type == fourCc("mvex")) {
                m_facts.isFragmented = true;
                readChildren(box, depth + 1,
                             [this](const Box& child, int) { readMovieExtends(child); });
            } else if (type == fourCc("udta")) {
                readChildren(box, depth + 1, [this](const Box& child, int childDepth) {
                    if (child.type == fourCc("meta"))
                        readMeta(child, childDepth + 1);
                });
            } else if (type == fourCc("meta")) {
                readMeta(box, depth + 1);
            }
        });
        for (const Trex& trex : m_trex) {
            if (IsoTrack* track = trackById(trex.trackId)) {
                track->defaultDuration = trex.duration;
                track->defaultSize = trex.size;
            }
        }
    }

    void readMovieExtends(const Box& box)
    {
        if (box.type == fourCc("mehd") && box.payloadSize() >= 8) {
            const bool v1 = u32At(box.payload) >> 24 == 1;
            m_facts.hasFragmentDuration = true;
            m_facts.fragmentDuration = v1 && box.payloadSize() >= 12
                                           ? heldValue(u64At(box.payload + 4))
                                           : u32At(box.payload + 4);
        } else if (box.type == fourCc("trex") && box.payloadSize() >= 24
                   && m_trex.size() < isoMaxTracks) {
            m_trex.push_back(
                {u32At(box.payload + 4), u32At(box.payload + 12), u32At(box.payload + 16)});
        }
    }

    void readTrack(const Box& trak, int depth)
    {
        if (m_facts.tracks.size() >= isoMaxTracks) {
            m_facts.hitLimit = true;
            return;
        }
        IsoTrack track;
        readChildren(trak, depth, [this, &track](const Box& box, int boxDepth) {
            readTrackBox(box, boxDepth, track);
        });
        m_facts.tracks.push_back(track);
    }

    /// The boxes of a trak and the containers below it down to stbl.
    void readTrackBox(const Box& box, int depth, IsoTrack& track)
    {
        const std::uint32_t type = box.type;
        const auto descend = [&] {
            readChildren(box, depth + 1, [this, &track](const Box& child, int childDepth) {
                readTrackBox(child, childDepth, track);
            });
        };
        if (type == fourCc("mdia") || type == fourCc("minf") || type == fourCc("stbl")
            || type == fourCc("edts")) {
            descend();
        } else if (type == fourCc("tkhd")) {
            readTrackHeader(box, track);
        } else if (type == fourCc("mdhd") && box.payloadSize() >= 20) {
            const bool v1 = u32At(box.payload) >> 24 == 1;
            track.mediaTimescale = u32At(box.payload + (v1 ? 20 : 12));
            track.mediaDuration = v1 && box.payloadSize() >= 32 ? heldValue(u64At(box.payload + 24))
                                                                : u32At(box.payload + 16);
            if (!v1 && track.mediaDuration == 0xFFFFFFFF)
                track.mediaDuration = 0;
        } else if (type == fourCc("hdlr") && box.payloadSize() >= 12 && track.handler == 0) {
            // The first is mdia's; a QuickTime minf has one of its own for the data ('url ').
            track.handler = u32At(box.payload + 8);
        } else if (type == fourCc("elst")) {
            readEditList(box, track);
        } else if (type == fourCc("stsd")) {
            readSampleDescription(box, track);
        } else if (type == fourCc("stts")) {
            readTimeToSample(box, track);
        } else if (type == fourCc("stsz") || type == fourCc("stz2")) {
            readSampleSizes(box, track);
        }
        // dinf (the data references) is never read: no other file is ever opened.
    }

    void readTrackHeader(const Box& box, IsoTrack& track)
    {
        if (box.payloadSize() < 84)
            return;
        const bool v1 = u32At(box.payload) >> 24 == 1;
        if (v1 && box.payloadSize() < 96)
            return;
        track.trackId = u32At(box.payload + (v1 ? 20 : 12));
        const std::int64_t matrix = box.payload + (v1 ? 52 : 40);
        const auto a = static_cast<std::int32_t>(u32At(matrix));
        const auto b = static_cast<std::int32_t>(u32At(matrix + 4));
        const auto c = static_cast<std::int32_t>(u32At(matrix + 12));
        const auto d = static_cast<std::int32_t>(u32At(matrix + 16));
        track.isTurned = a == 0 && d == 0 && b != 0 && c != 0;
        track.width = static_cast<std::int32_t>(u32At(matrix + 36) >> 16);
        track.height = static_cast<std::int32_t>(u32At(matrix + 40) >> 16);
    }

    void readEditList(const Box& box, IsoTrack& track)
    {
        if (box.payloadSize() < 8)
            return;
        const bool v1 = u32At(box.payload) >> 24 == 1;
        const std::int64_t entrySize = v1 ? 20 : 12;
        const std::int64_t count =
            std::min<std::int64_t>(u32At(box.payload + 4), (box.payloadSize() - 8) / entrySize);
        track.hasEditList = true;
        track.editDuration = 0;
        m_file.seek(box.payload + 8);
        for (std::int64_t i = 0; i < count; ++i) {
            std::int64_t segment = 0;
            if (v1) {
                const std::uint64_t high = m_file.readU32BigEndian();
                segment = heldValue((high << 32) | m_file.readU32BigEndian());
                m_file.skip(12);
            } else {
                segment = m_file.readU32BigEndian();
                m_file.skip(8);
            }
            track.editDuration = addHeld(track.editDuration, segment);
        }
    }

    void readSampleDescription(const Box& box, IsoTrack& track)
    {
        if (box.payloadSize() < 8 || u32At(box.payload + 4) == 0)
            return;
        Box entry;
        if (!nextBox(box.payload + 8, box.end, entry))
            return;
        track.codec = entry.type;
        if (track.handler != fourCc("soun") || entry.payloadSize() < 28)
            return;
        const std::int64_t p = entry.payload;
        const std::uint16_t soundVersion = u16At(p + 8);
        std::int64_t childrenStart = p + 28;
        if (soundVersion == 2 && entry.payloadSize() >= 64) {
            // The QuickTime layout of version 2: the rate as a 64-bit float, the channels in 32
            // bits.
            const std::uint64_t bits = u64At(p + 32);
            const auto rate = std::bit_cast<double>(bits);
            track.sampleRate = rate > 0 && rate < 1e7 ? static_cast<std::int64_t>(rate) : 0;
            track.channels = static_cast<std::int32_t>(std::min<std::uint32_t>(u32At(p + 40), 255));
            childrenStart = p + 64;
        } else {
            track.channels = u16At(p + 16);
            track.sampleRate = u32At(p + 24) >> 16;
            if (soundVersion == 1)
                childrenStart = p + 44;
        }
        readChildren(
            entry, 1,
            [this, &track](const Box& child, int) {
                if (child.type == fourCc("alac") && child.payloadSize() >= 28) {
                    // The ALAC cookie knows rates above 65535 Hz, which the 16.16 field cannot
                    // hold.
                    m_file.seek(child.payload + 13);
                    track.channels = m_file.readU8();
                    track.sampleRate = u32At(child.payload + 24);
                } else if (child.type == fourCc("esds") && child.payloadSize() > 4) {
                    // MP4 writers put 2 into the channel field whatever the stream has.
                    m_file.seek(child.payload + 4);
                    const std::vector<std::uint8_t> bytes =
                        m_file.readBytes(std::min<std::int64_t>(child.payloadSize() - 4, 512));
                    if (const int channels = aacChannels(bytes); channels > 0)
                        track.channels = channels;
                }
            },
            childrenStart);
    }

    void readTimeToSample(const Box& box, IsoTrack& track)
    {
        if (box.payloadSize() < 8)
            return;
        const std::int64_t count =
            std::min<std::int64_t>(u32At(box.payload + 4), (box.payloadSize() - 8) / 8);
        std::int64_t total = 0;
        m_file.seek(box.payload + 8);
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t samples = m_file.readU32BigEndian();
            total = addHeld(total, mulHeld(samples, m_file.readU32BigEndian()));
        }
        track.sampleTableDuration = total;
    }

    static void addSamples(IsoTrack& track, std::int64_t size, std::int64_t count)
    {
        if (count <= 0)
            return;
        if (track.commonSize < 0)
            track.commonSize = size;
        else if (track.commonSize != size)
            track.sizesEqual = false;
        track.sampleCount = addHeld(track.sampleCount, count);
        track.sampleBytes = addHeld(track.sampleBytes, mulHeld(size, count));
    }

    void readSampleSizes(const Box& box, IsoTrack& track)
    {
        if (box.payloadSize() < 12)
            return;
        const bool compact = box.type == fourCc("stz2");
        const std::uint32_t field = u32At(box.payload + 4);
        const std::int64_t claimed = u32At(box.payload + 8);
        if (!compact && field != 0) {
            addSamples(track, field, claimed);
            return;
        }
        const std::int64_t bits = compact ? (field & 0xFF) : 32;
        if (bits != 4 && bits != 8 && bits != 16 && bits != 32)
            return;
        // Never more entries than the box holds.
        const std::int64_t count = std::min(claimed, (box.payloadSize() - 12) * 8 / bits);
        if (count < claimed && box.end >= m_file.size())
            m_facts.isCut = true;
        m_file.seek(box.payload + 12);
        std::uint8_t half = 0;
        for (std::int64_t i = 0; i < count; ++i) {
            std::int64_t size = 0;
            if (bits == 32) {
                size = m_file.readU32BigEndian();
            } else if (bits == 16) {
                const std::uint8_t high = m_file.readU8();
                size = (high << 8) | m_file.readU8();
            } else if (bits == 8) {
                size = m_file.readU8();
            } else {
                if (i % 2 == 0)
                    half = m_file.readU8();
                size = i % 2 == 0 ? half >> 4 : half & 0x0F;
            }
            addSamples(track, size, 1);
        }
    }

    void readTrackFragment(const Box& traf)
    {
        IsoTrack* track = nullptr;
        std::uint32_t defaultDuration = 0;
        std::uint32_t defaultSize = 0;
        readChildren(traf, 2, [&](const Box& box, int) {
            if (box.type == fourCc("tfhd") && box.payloadSize() >= 8) {
                const std::uint32_t flags = u32At(box.payload) & 0xFFFFFF;
                track = trackById(u32At(box.payload + 4));
                if (track == nullptr)
                    return;
                defaultDuration = track->defaultDuration;
                defaultSize = track->defaultSize;
                std::int64_t at = box.payload + 8;
                if ((flags & 0x1) != 0)
                    at += 8; // base data offset
                if ((flags & 0x2) != 0)
                    at += 4; // sample description index
                if ((flags & 0x8) != 0 && at + 4 <= box.end) {
                    defaultDuration = u32At(at);
                    at += 4;
                }
                if ((flags & 0x10) != 0 && at + 4 <= box.end)
                    defaultSize = u32At(at);
            } else if (box.type == fourCc("trun") && track != nullptr) {
                readTrackRun(box, *track, defaultDuration, defaultSize);
            }
        });
    }

    void readTrackRun(const Box& box, IsoTrack& track, std::uint32_t defaultDuration,
                      std::uint32_t defaultSize)
    {
        if (box.payloadSize() < 8)
            return;
        const std::uint32_t flags = u32At(box.payload) & 0xFFFFFF;
        const std::int64_t claimed = u32At(box.payload + 4);
        std::int64_t at = box.payload + 8;
        if ((flags & 0x1) != 0)
            at += 4; // data offset
        if ((flags & 0x4) != 0)
            at += 4; // first sample flags
        const bool hasDuration = (flags & 0x100) != 0;
        const bool hasSize = (flags & 0x200) != 0;
        const std::int64_t entrySize = 4
                                       * (std::int64_t{hasDuration} + std::int64_t{hasSize}
                                          + ((flags & 0x400) != 0) + ((flags & 0x800) != 0));
        if (entrySize == 0) {
            addSamples(track, defaultSize, claimed);
            track.fragmentDuration =
                addHeld(track.fragmentDuration, mulHeld(defaultDuration, claimed));
            return;
        }
        const std::int64_t count =
            std::min(claimed, std::max<std::int64_t>(0, box.end - at) / entrySize);
        if (count < claimed && box.end >= m_file.size())
            m_facts.isCut = true;
        m_file.seek(at);
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t duration = hasDuration ? m_file.readU32BigEndian() : defaultDuration;
            const std::int64_t size = hasSize ? m_file.readU32BigEndian() : defaultSize;
            m_file.skip(entrySize - 4 * (std::int64_t{hasDuration} + std::int64_t{hasSize}));
            addSamples(track, size, 1);
            track.fragmentDuration = addHeld(track.fragmentDuration, duration);
        }
    }

    void readMeta(const Box& meta, int depth)
    {
        // The ISO meta box has a version and flags in front of its children; the QuickTime one
        // starts with them (its first child, hdlr, is at once behind the header).
        const std::int64_t from =
            meta.payloadSize() >= 8 && u32At(meta.payload + 4) == fourCc("hdlr") ? meta.payload
                                                                                 : meta.payload + 4;
        readChildren(
            meta, depth,
            [this](const Box& box, int boxDepth) {
                if (box.type == fourCc("ilst"))
                    readChildren(box, boxDepth + 1, [this](const Box& item, int itemDepth) {
                        readItem(item, itemDepth + 1);
                    });
            },
            from);
    }

    /// The value of a data box: its type and where its bytes are.
    struct DataValue
    {
        std::uint32_t kind = 0;
        std::int64_t start = 0;
        std::int64_t size = -1; // -1: no data box
    };

    std::string textOf(const DataValue& value)
    {
        if (value.size <= 0)
            return {};
        m_file.seek(value.start);
        const std::vector<std::uint8_t> bytes =
            m_file.readBytes(std::min(value.size, isoMaxTagBytes));
        return {bytes.begin(), bytes.end()};
    }

    void readItem(const Box& item, int depth)
    {
        DataValue value;
        std::string mean;
        std::string name;
        readChildren(item, depth, [&](const Box& box, int) {
            if (box.type == fourCc("data") && value.size < 0 && box.payloadSize() >= 8) {
                value = {u32At(box.payload) & 0xFFFFFF, box.payload + 8, box.payloadSize() - 8};
            } else if ((box.type == fourCc("mean") || box.type == fourCc("name"))
                       && box.payloadSize() >= 4) {
                std::string text = textOf({0, box.payload + 4, box.payloadSize() - 4});
                (box.type == fourCc("mean") ? mean : name) = std::move(text);
            }
        });
        if (value.size < 0)
            return;
        const std::uint32_t type = item.type;
        const auto setText = [&](std::string& field) {
            if (field.empty())
                field = textOf(value);
        };
        if (type
            == fourCc("\xA9"
                      "ART"))
            setText(m_facts.artist);
        else if (type
                 == fourCc("\xA9"
                           "alb"))
            setText(m_facts.album);
        else if (type
                 == fourCc("\xA9"
                           "nam"))
            setText(m_facts.title);
        else if (type
                 == fourCc("\xA9"
                           "gen"))
            setText(m_facts.genre);
        else if (type == fourCc("gnre") && value.size >= 2)
            m_facts.genreNumber = u16At(value.start);
        else if (type == fourCc("covr"))
            readCover(value);
        else if (type == fourCc("----") && mean == "com.apple.iTunes" && name == "iTunSMPB")
            m_facts.hasGaplessInfo =
                parseGaplessInfo(textOf(value), m_facts.priming, m_facts.padding);
    }

    void readCover(const DataValue& value)
    {
        // 13 JPEG, 14 PNG; 0 (implicit) is taken too, the decoder tells by the bytes.
        if (m_cover == IsoCover::PassOver || !m_facts.cover.empty() || value.size <= 0
            || value.size > isoMaxCoverBytes
            || (value.kind != 13 && value.kind != 14 && value.kind != 0))
            return;
        m_file.seek(value.start);
        m_facts.cover = m_file.readBytes(value.size);
    }

    IsoTrack* trackById(std::uint32_t id)
    {
        for (IsoTrack& track : m_facts.tracks) {
            if (track.trackId == id)
                return &track;
        }
        return nullptr;
    }

    struct Trex
    {
        std::uint32_t trackId = 0;
        std::uint32_t duration = 0;
        std::uint32_t size = 0;
    };

    ByteReader& m_file;
    IsoCover m_cover;
    IsoFacts m_facts;
    std::vector<Trex> m_trex;
    std::int64_t m_boxes = 0;
};

} // namespace

const IsoTrack* IsoFacts::firstTrack(std::uint32_t handler) const
{
    for (const IsoTrack& track : tracks) {
        if (track.handler == handler)
            return &track;
    }
    return nullptr;
}

IsoFacts readIsoFile(ByteReader& file, IsoCover cover)
{
    return Walker(file, cover).walk();
}

bool parseGaplessInfo(const std::string& text, std::int64_t& priming, std::int64_t& padding)
{
    std::istringstream words(text);
    std::string word;
    std::int64_t values[3] = {};
    for (std::int64_t& value : values) {
        if (!(words >> word) || word.size() > 16)
            return false;
        value = 0;
        for (const char c : word) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0 || value > (int64Max >> 4))
                return false;
            value = value * 16 + digit;
        }
    }
    priming = values[1];
    padding = values[2];
    return true;
}

} // namespace tagrelay
