#pragma once

namespace tagrelay {

/// Which ID3v2 tags the tag readers take: only version 3 (the default, and what the window
/// program always reads), or versions 2, 3 and 4 with numbered genres shown by their names.
enum class TagVersions { Id3v23Only, All };

/// Whether the tag readers keep a front cover's bytes (TrackTags::coverFrame). Only the cover
/// area and the icon files use them: a walk that shows neither passes covers over unread.
enum class CoverBytes { Keep, PassOver };

} // namespace tagrelay
