#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace tagrelay {

class FileFormat;
class ReadAhead;
class WalkReporter;
struct FileOutcome;
struct FolderContext;
struct RunState;

/// What the describers of one walk share: the run's state, the front end the walk reports to,
/// and the disk read-ahead.
struct WalkContext
{
    RunState& run;
    WalkReporter& reporter;
    /// Asks the disk for the files the walk reads next; nullptr when that is off.
    ReadAhead* readAhead = nullptr;

    /// Appends an entry to the list of files with errors and reports it.
    void addError(const std::string& text);
    /// The polling point after a file (and after a movie is loaded): takes the user's pending
    /// requests; a request to stop sets run.closeRequested. True when the walk is to stop.
    bool stopRequestedAfterFile();
};

/// Whether the folder is still where the walk found it, in the tree: its ancestor as many
/// levels up as it was found below the start folder is the start folder. When not, the folder
/// is marked as having left the tree. That chain is walked at most every chainCheckInterval;
/// in between, a folder entered by name is checked by the one step to the folder above it,
/// so the cost does not grow with the depth.
inline constexpr std::chrono::milliseconds chainCheckInterval{100};
bool isStillInTree(FolderContext& folder);

/// What became of a file's icon file.
enum class IconWrite {
    None,    // no bytes, or a folder that left the tree
    Written, // in place now (also when it held these bytes already)
    Failed,  // refused, with an entry in the list of files with errors
};

/// Writes an icon file (name + ".ico") beside a described file, whole or not at all, never
/// through a link and never into a folder that left the tree; a failure is an entry in the
/// list of files with errors. Nothing is written for empty bytes, nor when the icon file holds
/// these bytes already.
IconWrite writeIconFile(FolderContext& folder, const std::string& name,
                        std::span<const std::uint8_t> bytes, WalkContext& walk);

/// Writes and shows what the analysis of one file of the folder gave, the same for every kind
/// of file and wherever the analysis ran: the error entries not told yet, the facts shown at
/// the end, the icon file, the line and the count, then, for a counted file of a format that
/// polls, the polling point after the file. An outcome the user stopped writes nothing and ends the
/// walk.
IconWrite commitOutcome(FolderContext& folder, const std::string& name, const FileFormat& format,
                        FileOutcome outcome, WalkContext& walk);

} // namespace tagrelay
