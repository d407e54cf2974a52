#pragma once

#include "formats/file_format.h"
#include "platform/open_file.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tagrelay {

struct WalkContext;

/// One file handed to the workers, and what they made of it. A worker runs the analysis; the
/// walk's thread shows what the analysis told, in the order it told it, and then commits the
/// result, so the front end sees what a walk on one thread would have shown.
class AnalysisJob
{
  public:
    AnalysisJob(const FileFormat& format, OpenFile file, std::string fullPath,
                AnalysisOptions options);

    /// On a worker: analyses the file; stopping asks a long scan to end at once.
    void run(const std::atomic<bool>& stopping);
    /// Marks the job done without analysing it (the walk stopped before its turn).
    void drop();

    struct Shown
    {
        bool done = false;         // the analysis is done and all it told was shown
        bool scanProgress = false; // this call showed the scan's progress
    };
    /// On the walk's thread: shows what the analysis told since the last call (the file being
    /// analysed, the scan's start, progress and end, entries for the list of files with
    /// errors), waiting up to waitMs for more.
    Shown showProgress(WalkContext& walk, int waitMs);

    /// Whether the file was open when the job was made (the analysis read it).
    bool hadFile() const { return m_hadFile; }
    /// What the analysis gave, once showProgress() said it is done; taken once.
    FileOutcome takeOutcome() { return std::move(m_outcome); }

  private:
    enum class Told { Analysing, ScanStarted, ScanProgress, ScanFinished, Error };
    struct Telling
    {
        Told what = Told::Analysing;
        std::int64_t value = 0;
        std::string text;
    };
    class RecordingSink;

    void tell(Told what, std::int64_t value, const std::string& text);

    const FileFormat& m_format;
    OpenFile m_file;
    const bool m_hadFile;
    const std::string m_fullPath;
    const AnalysisOptions m_options;
    FileOutcome m_outcome;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Telling> m_told; // guarded by m_mutex
    std::size_t m_shown = 0;     // tellings shown; only the walk's thread uses it
    bool m_done = false;         // guarded by m_mutex
};

/// The threads that analyse files ahead of the walk. Jobs are taken in the order they are
/// given; the walk gives them in its own order, so the file it waits for is never behind
/// files it does not need yet.
class AnalysisPool
{
  public:
    explicit AnalysisPool(int workers);
    ~AnalysisPool();
    AnalysisPool(const AnalysisPool&) = delete;
    AnalysisPool& operator=(const AnalysisPool&) = delete;

    void submit(std::shared_ptr<AnalysisJob> job);
    /// Asks running analyses to end at once and drops the jobs not yet started.
    void stop();

  private:
    void serve();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<AnalysisJob>> m_queue;
    bool m_ending = false;
    /// Read by every worker once per frame: on a cache line of its own, away from the queue
    /// the walk's thread keeps changing.
    alignas(64) std::atomic<bool> m_stopping{false};
    std::vector<std::thread> m_threads;
};

} // namespace tagrelay
