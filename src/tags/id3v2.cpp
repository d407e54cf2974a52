#include "tags/id3v2.h"

#include "platform/byte_reader.h"

namespace tagrelay {

namespace {

void resetTagFields(TrackFacts& facts)
{
    facts.title.clear();
    facts.artist.clear();
    facts.album.clear();
    facts.year.clear();
    facts.genre.clear();
    facts.linkDescription.clear();
    facts.rightsNotice.clear();
    facts.track.clear();
    facts.genreName.clear();
    facts.picture.reset();
}

} // namespace

// FIXME: the ID3v1 and ID3v2.3 readers are not in place yet; the fields stay empty.
void readTrackTags(ByteReader& /*file*/, TrackFacts& facts)
{
    resetTagFields(facts);
}

void readTrackTags(const std::string& path, TrackFacts& facts)
{
    resetTagFields(facts);
    if (path.empty())
        return;
    ByteReader file(path);
    readTrackTags(file, facts);
}

} // namespace tagrelay
