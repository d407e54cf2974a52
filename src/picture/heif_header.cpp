#include "picture/heif_header.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace tagrelay {

namespace {

// A meta box holding more items, properties or associations than these is damage, not a photo
// (a tiled photo of a phone has a few dozen items).
constexpr std::uint32_t mostHeifItems = 4096;
constexpr std::size_t mostHeifProperties = 4096;
constexpr std::size_t mostHeifBoxes = 16384;
// A meta box larger than this is damage: the item locations of a photo of hundreds of tiles,
// its Exif and its colour profile take a few hundred KiB.
constexpr std::uint64_t mostHeifMetaBytes = 16 * 1024 * 1024;
// The ftyp box with more than a thousand compatible brands is no picture's.
constexpr std::size_t mostHeifFtypBytes = 4096;

constexpr std::uint32_t fourCc(const char (&name)[5])
{
    return (std::uint32_t{static_cast<std::uint8_t>(name[0])} << 24)
           | (std::uint32_t{static_cast<std::uint8_t>(name[1])} << 16)
           | (std::uint32_t{static_cast<std::uint8_t>(name[2])} << 8)
           | std::uint32_t{static_cast<std::uint8_t>(name[3])};
}

/// A box: its type and its content (after the size, the type and any large size).
struct Box
{
    std::array<char, 4> type{};
    std::span<const std::uint8_t> content;

    bool is(const char* name) const { return std::memcmp(type.data(), name, 4) == 0; }
};

/// Reads big-endian fields of a span; reads past the end give 0 and mark the reader failed.
class FieldReader
{
  public:
    explicit FieldReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t read(std::size_t count)
    {
        if (m_bytes.size() - m_at < count) {
            m_failed = true;
            m_at = m_bytes.size();
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i)
            value = (value << 8) | m_bytes[m_at++];
        return value;
    }
    std::uint32_t read32() { return static_cast<std::uint32_t>(read(4)); }
    std::uint32_t read16() { return static_cast<std::uint32_t>(read(2)); }
    std::uint32_t read8() { return static_cast<std::uint32_t>(read(1)); }
    void skip(std::size_t count)
    {
        if (m_bytes.size() - m_at < count) {
            m_failed = true;
            m_at = m_bytes.size();
        } else {
            m_at += count;
        }
    }
    std::span<const std::uint8_t> rest() const { return m_bytes.subspan(m_at); }
    bool failed() const { return m_failed; }

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
    bool m_failed = false;
};

/// Splits bytes into the boxes they hold, up to a count; a box that runs past the end ends the
/// list and marks it damaged.
struct BoxList
{
    std::vector<Box> boxes;
    bool damaged = false;
};

BoxList boxesOf(std::span<const std::uint8_t> bytes, std::size_t& budget)
{
    BoxList list;
    FieldReader reader(bytes);
    while (!reader.rest().empty()) {
        if (budget == 0) {
            list.damaged = true;
            break;
        }
        --budget;
        const std::size_t left = reader.rest().size();
        std::uint64_t size = reader.read32();
        Box box;
        for (char& c : box.type)
            c = static_cast<char>(reader.read8());
        std::size_t header = 8;
        if (size == 1) {
            size = reader.read(8);
            header = 16;
        } else if (size == 0) {
            size = left;
        }
        if (reader.failed() || size < header || size > left) {
            list.damaged = true;
            break;
        }
        box.content = reader.rest().first(static_cast<std::size_t>(size) - header);
        reader.skip(static_cast<std::size_t>(size) - header);
        list.boxes.push_back(box);
    }
    return list;
}

const Box* findBox(const BoxList& list, const char* type)
{
    const auto found = std::find_if(list.boxes.begin(), list.boxes.end(),
                                    [&](const Box& b) { return b.is(type); });
    return found == list.boxes.end() ? nullptr : &*found;
}

constexpr std::array<std::string_view, 12> heifBrands = {
    "heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "mif2", "msf1", "avif", "avis", "avio"};

bool isHeifBrand(std::span<const std::uint8_t> brand)
{
    const std::string_view text(reinterpret_cast<const char*>(brand.data()), 4);
    return std::find(heifBrands.begin(), heifBrands.end(), text) != heifBrands.end();
}

/// The properties of one item that the header needs.
struct ItemFacts
{
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    bool hasExtent = false;
    bool isRotatedSideways = false;
    bool isAlpha = false;
};

bool isAlphaType(std::span<const std::uint8_t> auxType)
{
    // The aux_type is a string ending in a zero byte.
    const auto end = std::find(auxType.begin(), auxType.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(auxType.data()),
                                static_cast<std::size_t>(end - auxType.begin()));
    return text == "urn:mpeg:hevc:2015:auxid:1"
           || text == "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha";
}

/// The facts of an item from its associated properties (ipma), in the order they are listed.
/// \returns false when the associations are damaged.
bool readAssociations(const Box& ipma, const BoxList& properties, std::uint32_t wanted,
                      ItemFacts& facts, bool& found)
{
    FieldReader reader(ipma.content);
    const std::uint32_t version = reader.read8();
    const std::uint32_t flags = static_cast<std::uint32_t>(reader.read(3));
    const std::uint32_t entries = reader.read32();
    if (reader.failed() || entries > mostHeifItems)
        return false;
    for (std::uint32_t entry = 0; entry < entries; ++entry) {
        const std::uint32_t item = version < 1 ? reader.read16() : reader.read32();
        const std::uint32_t count = reader.read8();
        for (std::uint32_t i = 0; i < count; ++i) {
            // The essential bit, then the 1-based index into ipco (7 or 15 bits).
            const std::uint32_t index =
                (flags & 1U) != 0 ? (reader.read16() & 0x7FFFU) : (reader.read8() & 0x7FU);
            if (item != wanted || index == 0 || index > properties.boxes.size())
                continue;
            const Box& property = properties.boxes[index - 1];
            FieldReader content(property.content);
            if (property.is("ispe")) {
                content.skip(4); // version and flags
                const std::uint64_t width = content.read32();
                const std::uint64_t height = content.read32();
                if (!content.failed() && !facts.hasExtent) {
                    facts.width = width;
                    facts.height = height;
                    facts.hasExtent = true;
                }
            } else if (property.is("irot")) {
                const std::uint32_t angle = content.read8() & 3U; // times 90 degrees
                facts.isRotatedSideways = angle == 1 || angle == 3;
            } else if (property.is("auxC")) {
                content.skip(4);
                facts.isAlpha = facts.isAlpha || isAlphaType(content.rest());
            }
        }
        if (reader.failed())
            return false;
        found = found || item == wanted;
    }
    return true;
}

/// The items that an "auxl" reference of the iref box links to the primary item.
std::vector<std::uint32_t> auxiliariesOf(const Box* iref, std::uint32_t primary,
                                         std::size_t& budget)
{
    std::vector<std::uint32_t> auxiliaries;
    if (iref == nullptr)
        return auxiliaries;
    FieldReader head(iref->content);
    const std::uint32_t version = head.read8();
    head.skip(3);
    const BoxList references = boxesOf(head.rest(), budget);
    for (const Box& reference : references.boxes) {
        if (!reference.is("auxl"))
            continue;
        // From item, count (2), to items.
        FieldReader reader(reference.content);
        const std::uint32_t from = version == 0 ? reader.read16() : reader.read32();
        const std::uint32_t count = reader.read16();
        for (std::uint32_t i = 0; i < count && !reader.failed(); ++i) {
            const std::uint32_t to = version == 0 ? reader.read16() : reader.read32();
            if (!reader.failed() && to == primary && auxiliaries.size() < mostHeifItems)
                auxiliaries.push_back(from);
        }
    }
    return auxiliaries;
}

/// The content of a HEIF file's first top-level meta box, found from the headers of the
/// top-level boxes before it: the meta box often comes before the media data (a file cut
/// inside the media data still has its header), but it may also come after it. None for
/// another format, a damaged box on the way, or a meta box without its version and flags.
std::optional<std::span<const std::uint8_t>> metaContentOf(ByteRanges& file, std::size_t& budget)
{
    if (!hasHeifSignature(file.read(0, mostHeifFtypBytes)))
        return std::nullopt;
    for (std::uint64_t at = 0; at < file.size(); --budget) {
        const std::uint64_t left = file.size() - at;
        FieldReader header(file.read(at, 16));
        std::uint64_t size = header.read32();
        const std::uint64_t type = header.read32();
        std::uint64_t headerSize = 8;
        if (size == 1) {
            size = header.read(8);
            headerSize = 16;
        } else if (size == 0) {
            size = left;
        }
        if (budget == 0 || header.failed() || size < headerSize || size > left)
            return std::nullopt;
        if (type == fourCc("meta")) {
            if (size - headerSize > mostHeifMetaBytes || size - headerSize < 4)
                return std::nullopt;
            const auto contentSize = static_cast<std::size_t>(size - headerSize);
            const std::span<const std::uint8_t> meta = file.read(at + headerSize, contentSize);
            if (meta.size() != contentSize)
                return std::nullopt;
            return meta;
        }
        at += size;
    }
    return std::nullopt;
}

bool isImageItemType(std::uint32_t type)
{
    // The coded and derived images libheif decodes.
    return type == fourCc("hvc1") || type == fourCc("av01") || type == fourCc("vvc1")
           || type == fourCc("grid") || type == fourCc("iden") || type == fourCc("iovl");
}

} // namespace

bool hasHeifSignature(std::span<const std::uint8_t> bytes)
{
    // Size (4), "ftyp", major brand (4), minor version (4), compatible brands (4 each).
    if (bytes.size() < 16 || std::memcmp(bytes.data() + 4, "ftyp", 4) != 0)
        return false;
    FieldReader reader(bytes);
    const std::uint64_t size = reader.read32();
    if (size < 16 || size > bytes.size() || size > mostHeifFtypBytes)
        return false;
    if (isHeifBrand(bytes.subspan(8, 4)))
        return true;
    for (std::size_t at = 16; at + 4 <= size; at += 4) {
        if (isHeifBrand(bytes.subspan(at, 4)))
            return true;
    }
    return false;
}

std::optional<PictureHeader> readHeifHeader(std::span<const std::uint8_t> bytes)
{
    MemoryRanges ranges(bytes);
    return readHeifHeaderFrom(ranges);
}

std::optional<PictureHeader> readHeifHeaderFrom(ByteRanges& file)
{
    std::size_t budget = mostHeifBoxes;
    const auto metaContent = metaContentOf(file, budget);
    if (!metaContent)
        return std::nullopt;
    const std::span<const std::uint8_t> meta = *metaContent;
    const BoxList metaBoxes = boxesOf(meta.subspan(4), budget);
    const Box* pitm = findBox(metaBoxes, "pitm");
    const Box* iprp = findBox(metaBoxes, "iprp");
    if (pitm == nullptr || iprp == nullptr)
        return std::nullopt;
    FieldReader pitmReader(pitm->content);
    const std::uint32_t pitmVersion = pitmReader.read8();
    pitmReader.skip(3);
    const std::uint32_t primary = pitmVersion == 0 ? pitmReader.read16() : pitmReader.read32();
    if (pitmReader.failed())
        return std::nullopt;

    const BoxList iprpBoxes = boxesOf(iprp->content, budget);
    const Box* ipco = findBox(iprpBoxes, "ipco");
    if (ipco == nullptr)
        return std::nullopt;
    const BoxList properties = boxesOf(ipco->content, budget);
    if (properties.boxes.size() > mostHeifProperties)
        return std::nullopt;
    std::vector<const Box*> associations;
    for (const Box& box : iprpBoxes.boxes) {
        if (box.is("ipma"))
            associations.push_back(&box);
    }

    ItemFacts primaryFacts;
    bool found = false;
    for (const Box* ipma : associations) {
        if (!readAssociations(*ipma, properties, primary, primaryFacts, found))
            return std::nullopt;
    }
    if (!found || !primaryFacts.hasExtent)
        return std::nullopt;

    bool hasAlpha = false;
    for (const std::uint32_t auxiliary :
         auxiliariesOf(findBox(metaBoxes, "iref"), primary, budget)) {
        ItemFacts auxiliaryFacts;
        bool auxiliaryFound = false;
        for (const Box* ipma : associations) {
            if (!readAssociations(*ipma, properties, auxiliary, auxiliaryFacts, auxiliaryFound))
                return std::nullopt;
        }
        hasAlpha = hasAlpha || auxiliaryFacts.isAlpha;
    }

    std::uint64_t width = primaryFacts.width;
    std::uint64_t height = primaryFacts.height;
    if (primaryFacts.isRotatedSideways)
        std::swap(width, height);
    if (width > static_cast<std::uint64_t>(largestPictureSide)
        || height > static_cast<std::uint64_t>(largestPictureSide)
        || !isAcceptedPictureSize(static_cast<std::int64_t>(width),
                                  static_cast<std::int64_t>(height)))
        return std::nullopt;
    return PictureHeader{static_cast<int>(width), static_cast<int>(height), hasAlpha ? 32 : 24};
}

namespace {

struct ImageItem
{
    std::uint32_t id = 0;
    std::uint32_t type = 0;
};

/// The image items of a HEIF file's iinf box (version and flags, a count, then infe boxes).
std::vector<ImageItem> imageItemsOf(const BoxList& metaBoxes, std::size_t& budget)
{
    std::vector<ImageItem> images;
    const Box* iinf = findBox(metaBoxes, "iinf");
    if (iinf == nullptr)
        return images;
    FieldReader head(iinf->content);
    const std::uint32_t version = head.read8();
    head.skip(3);
    (void)(version == 0 ? head.read16() : head.read32());
    for (const Box& infe : boxesOf(head.rest(), budget).boxes) {
        // Version 2 or 3: item id (2 or 4), protection index (2), item type (4).
        FieldReader entry(infe.content);
        const std::uint32_t entryVersion = entry.read8();
        entry.skip(3);
        if (!infe.is("infe") || entryVersion < 2)
            continue;
        const std::uint32_t item = entryVersion == 2 ? entry.read16() : entry.read32();
        entry.skip(2);
        const std::uint32_t type = entry.read32();
        if (!entry.failed() && isImageItemType(type) && images.size() < mostHeifItems)
            images.push_back({item, type});
    }
    return images;
}

/// The boxes of a file's meta box and its image items, and what is left of the box budget.
/// The boxes point into the file's bytes.
struct MetaImages
{
    BoxList boxes;
    std::vector<ImageItem> images;
    std::size_t budget = 0;
};

std::optional<MetaImages> metaImagesOf(std::span<const std::uint8_t> bytes)
{
    MemoryRanges file(bytes);
    MetaImages found;
    found.budget = mostHeifBoxes;
    const auto meta = metaContentOf(file, found.budget);
    if (!meta)
        return std::nullopt;
    found.boxes = boxesOf(meta->subspan(4), found.budget);
    found.images = imageItemsOf(found.boxes, found.budget);
    return found;
}

} // namespace

bool hasComposedPicture(std::span<const std::uint8_t> bytes)
{
    const std::optional<MetaImages> meta = metaImagesOf(bytes);
    if (!meta)
        return false;
    return std::any_of(meta->images.begin(), meta->images.end(), [](const ImageItem& image) {
        return image.type == fourCc("grid") || image.type == fourCc("iovl");
    });
}

bool refersToImagesOnly(std::span<const std::uint8_t> bytes)
{
    std::optional<MetaImages> meta = metaImagesOf(bytes);
    if (!meta)
        return false;
    const std::vector<ImageItem>& images = meta->images;
    std::size_t& budget = meta->budget;
    const Box* iref = findBox(meta->boxes, "iref");
    if (iref == nullptr)
        return true;
    FieldReader head(iref->content);
    const std::uint32_t version = head.read8();
    head.skip(3);
    // libheif reads the references of a damaged list past its sizes: no telling what it finds.
    const BoxList references = boxesOf(head.rest(), budget);
    if (references.damaged)
        return false;
    for (const Box& reference : references.boxes) {
        if (!reference.is("dimg"))
            continue;
        // From item, count (2), to items: each must be an image.
        FieldReader reader(reference.content);
        (void)(version == 0 ? reader.read16() : reader.read32());
        const std::uint32_t count = reader.read16();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t to = version == 0 ? reader.read16() : reader.read32();
            if (reader.failed())
                break;
            if (std::none_of(images.begin(), images.end(),
                             [&](const ImageItem& image) { return image.id == to; }))
                return false;
        }
    }
    return true;
}

} // namespace tagrelay
