#include "containers/matroska_reader.h"

#include "containers/ebml_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace tagrelay {

namespace {

// Element IDs, their length markers kept.
constexpr std::uint32_t ebmlId = 0x1A45DFA3;
constexpr std::uint32_t docTypeId = 0x4282;
constexpr std::uint32_t segmentId = 0x18538067;
constexpr std::uint32_t seekHeadId = 0x114D9B74;
constexpr std::uint32_t infoId = 0x1549A966;
constexpr std::uint32_t tracksId = 0x1654AE6B;
constexpr std::uint32_t clusterId = 0x1F43B675;
constexpr std::uint32_t cuesId = 0x1C53BB6B;
constexpr std::uint32_t attachmentsId = 0x1941A469;
constexpr std::uint32_t chaptersId = 0x1043A770;
constexpr std::uint32_t tagsId = 0x1254C367;
constexpr std::uint32_t timestampScaleId = 0x2AD7B1;
constexpr std::uint32_t durationId = 0x4489;
constexpr std::uint32_t trackEntryId = 0xAE;
constexpr std::uint32_t trackNumberId = 0xD7;
constexpr std::uint32_t trackTypeId = 0x83;
constexpr std::uint32_t defaultDurationId = 0x23E383;
constexpr std::uint32_t videoId = 0xE0;
constexpr std::uint32_t pixelWidthId = 0xB0;
constexpr std::uint32_t pixelHeightId = 0xBA;
constexpr std::uint32_t displayWidthId = 0x54B0;
constexpr std::uint32_t displayHeightId = 0x54BA;
constexpr std::uint32_t timestampId = 0xE7;
constexpr std::uint32_t simpleBlockId = 0xA3;
constexpr std::uint32_t blockGroupId = 0xA0;
constexpr std::uint32_t blockId = 0xA1;
constexpr std::uint32_t blockDurationId = 0x9B;

constexpr std::uint64_t videoTrackType = 1;

/// More elements than a ten-hour movie at 120 fps with a dozen other tracks has: beyond
/// them a file is made to keep the reader busy.
constexpr std::int64_t maxElements = std::int64_t{1} << 24;
/// Track entries looked at, and distinct track numbers whose blocks are counted.
constexpr std::size_t maxTrackEntries = 128;
constexpr std::size_t maxCountedTracks = 64;
constexpr std::int64_t maxEbmlHeaderSize = 4096;
constexpr std::int64_t maxDocTypeLength = 64;
/// A timestamp beyond this (in units) is not of any movie; it keeps the sums in range.
constexpr std::int64_t maxTimestamp = std::int64_t{1} << 52;

struct TrackEntry
{
    std::uint64_t number = 0;
    std::uint64_t type = 0;
    MatroskaVideoTrack video;
};

/// The blocks of one track number.
struct TrackBlocks
{
    std::uint64_t number = 0;
    std::int64_t frames = 0;
    bool hasTime = false;
    std::int64_t latest = 0;                    // the largest timestamp, in units
    std::int64_t latestFrames = 0;              // that block's frames
    std::optional<std::int64_t> latestDuration; // that block's BlockDuration, in units
};

struct BlockHeader
{
    std::uint64_t track = 0;
    std::int64_t relative = 0;
    std::int64_t frames = 0;
};

bool isTopLevel(std::uint32_t id)
{
    return id == clusterId || id == cuesId || id == infoId || id == tracksId || id == tagsId
           || id == chaptersId || id == attachmentsId || id == seekHeadId || id == ebmlId
           || id == segmentId;
}

std::int32_t clampedSize(std::uint64_t value)
{
    return static_cast<std::int32_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

/// a * b + c, none when it leaves the int64 range.
std::optional<std::int64_t> checkedMulAdd(std::int64_t a, std::int64_t b, std::int64_t c)
{
    std::int64_t product = 0;
    std::int64_t sum = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum))
        return std::nullopt;
    return sum;
}

class MatroskaWalk
{
  public:
    explicit MatroskaWalk(ByteReader& file) : m_file(file), m_fileEnd(file.size()) {}

    MatroskaFacts read()
    {
        if (!readEbmlHeader()) {
            if (m_facts.trouble == MatroskaTrouble::None)
                troubled(MatroskaTrouble::NotMatroska, "no Matroska header");
            return m_facts;
        }
        readSegment();
        finish();
        return m_facts;
    }

  private:
    void troubled(MatroskaTrouble trouble, const std::string& text)
    {
        if (m_facts.trouble != MatroskaTrouble::None)
            return;
        m_facts.trouble = trouble;
        m_facts.troubleText = text;
    }

    /// The trouble of an element that ends past its parent: the file ends first, or not.
    void overran(std::int64_t end)
    {
        if (end > m_fileEnd)
            troubled(MatroskaTrouble::CutShort, "the file ends inside an element");
        else
            troubled(MatroskaTrouble::Damaged, "an element runs past the one it is in");
    }

    /// The next element header inside [.., end); none, with the trouble told, when there is
    /// no valid one or too many were read.
    std::optional<EbmlElement> nextElement(std::int64_t end)
    {
        if (++m_elements > maxElements) {
            troubled(MatroskaTrouble::Damaged, "more elements than any movie has");
            return std::nullopt;
        }
        const std::int64_t start = m_file.position();
        std::optional<EbmlElement> element = readEbmlElement(m_file);
        if (!element || element->dataStart > end) {
            if (m_file.position() >= m_fileEnd && end >= m_fileEnd)
                troubled(MatroskaTrouble::CutShort, "the file ends inside an element");
            else
                troubled(MatroskaTrouble::Damaged,
                         "no element can start at byte " + std::to_string(start));
            return std::nullopt;
        }
        return element;
    }

    /// Calls visit(child, childEnd) for each child in [begin, end), each of known size and
    /// inside the parent; false, with the trouble told, when one is not.
    template <typename Visit> bool forEachChild(std::int64_t begin, std::int64_t end, Visit visit)
    {
        m_file.seek(begin);
        while (m_file.position() < end) {
            const std::optional<EbmlElement> child = nextElement(end);
            if (!child)
                return false;
            if (!child->size) {
                troubled(MatroskaTrouble::Damaged, "an element of unknown size inside a header");
                return false;
            }
            const std::int64_t childEnd = child->dataStart + *child->size;
            if (childEnd > end) {
                overran(childEnd);
                return false;
            }
            visit(*child, childEnd);
            m_file.seek(childEnd);
        }
        return true;
    }

    bool readEbmlHeader()
    {
        m_file.seek(0);
        const std::optional<EbmlElement> header = readEbmlElement(m_file);
        if (!header || header->id != ebmlId || !header->size || *header->size > maxEbmlHeaderSize)
            return false;
        const std::int64_t end = header->dataStart + *header->size;
        if (end > m_fileEnd) {
            troubled(MatroskaTrouble::CutShort, "the file ends inside its header");
            return false;
        }
        m_facts.docType = "matroska"; // what a header without a DocType means
        const bool whole =
            forEachChild(header->dataStart, end, [&](const EbmlElement& child, std::int64_t) {
                if (child.id == docTypeId)
                    m_facts.docType = readEbmlString(m_file, *child.size, maxDocTypeLength)
                                          .value_or(std::string());
            });
        if (!whole)
            return false;
        if (m_facts.docType != "matroska" && m_facts.docType != "webm") {
            troubled(MatroskaTrouble::NotMatroska,
                     "an EBML document that is neither Matroska nor WebM");
            return false;
        }
        m_file.seek(end);
        return true;
    }

    void readSegment()
    {
        // Only the first Segment: a second one is another movie chained behind it.
        std::optional<EbmlElement> segment;
        while (!segment) {
            if (m_file.atEnd()) {
                troubled(MatroskaTrouble::CutShort, "the file ends before its Segment");
                return;
            }
            const std::optional<EbmlElement> element = nextElement(m_fileEnd);
            if (!element)
                return;
            if (element->id == segmentId) {
                segment = element;
            } else if (!element->size) {
                troubled(MatroskaTrouble::Damaged, "no Segment behind the header");
                return;
            } else {
                m_file.seek(element->dataStart + *element->size);
            }
        }
        std::int64_t end = segment->end(m_fileEnd);
        if (end > m_fileEnd) {
            troubled(MatroskaTrouble::CutShort, "the file ends inside its Segment");
            end = m_fileEnd;
        }
        m_file.seek(segment->dataStart);
        while (m_file.position() < end) {
            const std::optional<EbmlElement> element = nextElement(end);
            if (!element)
                return;
            if (element->id == clusterId) {
                if (!readCluster(*element, end))
                    return;
                continue;
            }
            if (element->id == ebmlId || element->id == segmentId)
                break; // the next Segment of a chain, behind one of unknown size
            if (!element->size) {
                troubled(MatroskaTrouble::Damaged, "an element of unknown size in the Segment");
                return;
            }
            const std::int64_t elementEnd = element->dataStart + *element->size;
            if (elementEnd > end) {
                overran(elementEnd);
                return;
            }
            if (element->id == infoId && !readInfo(element->dataStart, elementEnd))
                return;
            if (element->id == tracksId && !readTracks(element->dataStart, elementEnd))
                return;
            m_file.seek(elementEnd);
        }
        m_readToTheEnd = true;
    }

    bool readInfo(std::int64_t begin, std::int64_t end)
    {
        return forEachChild(begin, end, [&](const EbmlElement& child, std::int64_t) {
            if (child.id == timestampScaleId) {
                const std::uint64_t scale = readEbmlUnsigned(m_file, *child.size).value_or(0);
                // A scale of 0 says nothing; one past a second per unit is no movie's.
                if (scale > 0 && scale <= 1000000000)
                    m_facts.timestampScale = static_cast<std::int64_t>(scale);
            } else if (child.id == durationId) {
                const std::optional<double> duration = readEbmlFloat(m_file, *child.size);
                if (duration && std::isfinite(*duration) && *duration >= 0.0)
                    m_facts.segmentDuration = *duration;
            }
        });
    }

    bool readTracks(std::int64_t begin, std::int64_t end)
    {
        return forEachChild(begin, end, [&](const EbmlElement& child, std::int64_t childEnd) {
            if (child.id != trackEntryId || m_tracks.size() >= maxTrackEntries)
                return;
            TrackEntry entry;
            const bool whole = forEachChild(
                child.dataStart, childEnd, [&](const EbmlElement& field, std::int64_t fieldEnd) {
                    const auto value = [&] {
                        return readEbmlUnsigned(m_file, *field.size).value_or(0);
                    };
                    switch (field.id) {
                    case trackNumberId:
                        entry.number = value();
                        break;
                    case trackTypeId:
                        entry.type = value();
                        break;
                    case defaultDurationId:
                        entry.video.defaultDurationNs = static_cast<std::int64_t>(
                            std::min<std::uint64_t>(value(), std::uint64_t{1} << 40));
                        break;
                    case videoId:
                        readVideo(field.dataStart, fieldEnd, entry.video);
                        break;
                    default:
                        break;
                    }
                });
            if (whole)
                m_tracks.push_back(entry);
        });
    }

    void readVideo(std::int64_t begin, std::int64_t end, MatroskaVideoTrack& video)
    {
        forEachChild(begin, end, [&](const EbmlElement& field, std::int64_t) {
            const auto value = [&] {
                return clampedSize(readEbmlUnsigned(m_file, *field.size).value_or(0));
            };
            if (field.id == pixelWidthId)
                video.pixelWidth = value();
            else if (field.id == pixelHeightId)
                video.pixelHeight = value();
            else if (field.id == displayWidthId)
                video.displayWidth = value();
            else if (field.id == displayHeightId)
                video.displayHeight = value();
        });
    }

    /// Reads a Cluster's blocks; false when the reading has to stop.
    bool readCluster(const EbmlElement& cluster, std::int64_t segmentEnd)
    {
        std::int64_t end = cluster.end(segmentEnd);
        if (end > segmentEnd) {
            overran(end);
            end = segmentEnd;
        }
        std::int64_t timestamp = 0;
        m_file.seek(cluster.dataStart);
        while (m_file.position() < end) {
            const std::optional<EbmlElement> child = nextElement(end);
            if (!child)
                return false;
            if (!cluster.size && isTopLevel(child->id)) {
                // A Cluster of unknown size ends where the next element of the Segment starts.
                m_file.seek(child->start);
                return true;
            }
            if (!child->size) {
                troubled(MatroskaTrouble::Damaged, "an element of unknown size in a Cluster");
                return false;
            }
            const std::int64_t childEnd = child->dataStart + *child->size;
            if (childEnd > end) {
                // A block cut off is not counted: its frame cannot be played.
                overran(childEnd);
                return false;
            }
            if (child->id == timestampId) {
                const std::uint64_t value = readEbmlUnsigned(m_file, *child->size).value_or(0);
                timestamp = static_cast<std::int64_t>(
                    std::min<std::uint64_t>(value, static_cast<std::uint64_t>(maxTimestamp)));
            } else if (child->id == simpleBlockId) {
                if (const std::optional<BlockHeader> block = readBlock(childEnd))
                    count(*block, timestamp, std::nullopt);
            } else if (child->id == blockGroupId) {
                if (!readBlockGroup(child->dataStart, childEnd, timestamp))
                    return false;
            }
            m_file.seek(childEnd);
        }
        return true;
    }

    bool readBlockGroup(std::int64_t begin, std::int64_t end, std::int64_t timestamp)
    {
        std::optional<BlockHeader> block;
        std::optional<std::int64_t> duration;
        const bool whole =
            forEachChild(begin, end, [&](const EbmlElement& child, std::int64_t childEnd) {
                if (child.id == blockId && !block) {
                    block = readBlock(childEnd);
                } else if (child.id == blockDurationId) {
                    const std::uint64_t value = readEbmlUnsigned(m_file, *child.size).value_or(0);
                    duration = static_cast<std::int64_t>(
                        std::min<std::uint64_t>(value, static_cast<std::uint64_t>(maxTimestamp)));
                }
            });
        if (block)
            count(*block, timestamp, duration);
        return whole;
    }

    /// A block's header: track number, relative timestamp, flags and the lace count; the
    /// payload is passed over unread.
    std::optional<BlockHeader> readBlock(std::int64_t end)
    {
        BlockHeader block;
        const std::optional<std::uint64_t> track = readEbmlVint(m_file);
        const std::uint32_t high = m_file.readU8();
        const std::uint32_t low = m_file.readU8();
        const std::uint8_t flags = m_file.readU8();
        if (!track || m_file.position() > end) {
            troubled(MatroskaTrouble::Damaged, "a block too short for its header");
            return std::nullopt;
        }
        block.track = *track;
        block.relative = static_cast<std::int16_t>(static_cast<std::uint16_t>((high << 8) | low));
        const LaceReading lace = readLacing(m_file, (flags >> 1) & 0x03, end);
        if (!lace.fits)
            troubled(MatroskaTrouble::Damaged, "a laced block whose frames do not fit it");
        block.frames = lace.frames;
        return block;
    }

    void count(const BlockHeader& block, std::int64_t clusterTimestamp,
               std::optional<std::int64_t> duration)
    {
        auto blocks = std::find_if(m_blocks.begin(), m_blocks.end(),
                                   [&](const TrackBlocks& b) { return b.number == block.track; });
        if (blocks == m_blocks.end()) {
            if (m_blocks.size() >= maxCountedTracks)
                return;
            TrackBlocks fresh;
            fresh.number = block.track;
            m_blocks.push_back(fresh);
            blocks = m_blocks.end() - 1;
        }
        blocks->frames += block.frames;
        const std::int64_t time = clusterTimestamp + block.relative;
        if (!blocks->hasTime || time >= blocks->latest) {
            blocks->hasTime = true;
            blocks->latest = time;
            blocks->latestFrames = block.frames;
            blocks->latestDuration = duration;
        }
    }

    void finish()
    {
        const auto video = std::find_if(m_tracks.begin(), m_tracks.end(), [](const TrackEntry& t) {
            return t.type == videoTrackType;
        });
        if (video == m_tracks.end())
            return;
        m_facts.video = video->video;
        m_facts.video->number = video->number;
        const std::int64_t scale = m_facts.timestampScale;
        const auto blocks =
            std::find_if(m_blocks.begin(), m_blocks.end(),
                         [&](const TrackBlocks& b) { return b.number == video->number; });
        if (blocks != m_blocks.end()) {
            m_facts.frames = blocks->frames;
            if (blocks->hasTime) {
                std::optional<std::int64_t> end;
                if (blocks->latestDuration) {
                    end = checkedMulAdd(blocks->latest + *blocks->latestDuration, scale, 0);
                } else if (const std::optional<std::int64_t> length = checkedMulAdd(
                               blocks->latestFrames, video->video.defaultDurationNs, 0)) {
                    end = checkedMulAdd(blocks->latest, scale, *length);
                }
                if (end && *end >= 0)
                    m_facts.blocksEndNs = end;
            }
        }
        m_facts.durationNs = m_facts.blocksEndNs;
        // The Duration of a file cut short promises more than its blocks hold.
        if (m_readToTheEnd && m_facts.trouble != MatroskaTrouble::CutShort
            && m_facts.segmentDuration) {
            const double ns = *m_facts.segmentDuration * static_cast<double>(scale);
            if (ns < 9.0e18)
                m_facts.durationNs = std::llround(ns);
        }
    }

    ByteReader& m_file;
    std::int64_t m_fileEnd = 0;
    std::int64_t m_elements = 0;
    bool m_readToTheEnd = false;
    std::vector<TrackEntry> m_tracks;
    std::vector<TrackBlocks> m_blocks;
    MatroskaFacts m_facts;
};

} // namespace

LaceReading readLacing(ByteReader& file, int lacing, std::int64_t end)
{
    LaceReading reading;
    if (lacing == 0)
        return reading;
    reading.frames = std::int64_t{file.readU8()} + 1;
    std::int64_t sizes = 0; // of the frames before the last
    if (lacing == 1) {
        // Xiph: each size as a run of 255s and the byte that ends it.
        for (std::int64_t frame = 0; frame + 1 < reading.frames; ++frame) {
            std::uint8_t byte = 0;
            do {
                if (file.position() >= end) {
                    reading.fits = false;
                    return reading;
                }
                byte = file.readU8();
                sizes += byte;
            } while (byte == 0xFF);
        }
    } else if (lacing == 3) {
        // EBML: the first size, then each as a signed difference to the one before.
        const std::optional<std::uint64_t> first = readEbmlVint(file);
        std::int64_t size = static_cast<std::int64_t>(
            std::min<std::uint64_t>(first.value_or(0), static_cast<std::uint64_t>(maxTimestamp)));
        sizes = size;
        for (std::int64_t frame = 1; frame + 1 < reading.frames && first; ++frame) {
            const std::int64_t at = file.position();
            const std::optional<std::uint64_t> raw = readEbmlVint(file);
            if (!raw || file.position() > end) {
                reading.fits = false;
                return reading;
            }
            const std::int64_t length = file.position() - at;
            const std::int64_t bias = (std::int64_t{1} << (7 * length - 1)) - 1;
            size += static_cast<std::int64_t>(*raw) - bias;
            if (size < 0 || size > maxTimestamp) {
                reading.fits = false;
                return reading;
            }
            sizes += size;
        }
        reading.fits = first.has_value();
    }
    const std::int64_t data = end - file.position();
    if (data < 0 || sizes > data)
        reading.fits = false;
    else if (lacing == 2)
        reading.fits = data % reading.frames == 0;
    return reading;
}

MatroskaFacts readMatroska(ByteReader& file)
{
    return MatroskaWalk(file).read();
}

} // namespace tagrelay
