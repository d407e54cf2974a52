#include "scan/analysis_pool.h"

#include "scan/walk_context.h"
#include "scan/walk_reporter.h"

#include <chrono>

namespace tagrelay {

/// The sink of an analysis on a worker: everything it tells is kept for the walk's thread.
class AnalysisJob::RecordingSink : public AnalysisSink
{
  public:
    RecordingSink(AnalysisJob& job, const std::atomic<bool>& stopping)
        : m_job(job), m_stopping(stopping)
    {
    }
    void analysing() override { tell(Told::Analysing, 0, {}); }
    void scanStarted(std::int64_t fileSize) override { tell(Told::ScanStarted, fileSize, {}); }
    bool scanProgress(std::int64_t bytesDone) override
    {
        // Every frame asks whether to go on; its progress is passed on for one frame in
        // progressStride only, and the newest before anything else is told. The walk's thread
        // shows the newest value it finds every few milliseconds, so more would only cost a
        // lock per frame.
        m_untoldProgress = bytesDone;
        if (++m_frames % progressStride == 0)
            tellProgress();
        return !m_stopping.load(std::memory_order_relaxed);
    }
    void scanFinished() override { tell(Told::ScanFinished, 0, {}); }
    void errorFound(const std::string& text) override { tell(Told::Error, 0, text); }

    /// Tells the progress not yet told: the bar of a scan decided early stays at it.
    void tellProgress()
    {
        if (m_untoldProgress < 0)
            return;
        m_job.tell(Told::ScanProgress, m_untoldProgress, {});
        m_untoldProgress = -1;
    }

  private:
    static constexpr std::uint32_t progressStride = 32;

    void tell(Told what, std::int64_t value, const std::string& text)
    {
        tellProgress();
        m_job.tell(what, value, text);
    }

    AnalysisJob& m_job;
    const std::atomic<bool>& m_stopping;
    std::uint32_t m_frames = 0;
    std::int64_t m_untoldProgress = -1;
};

AnalysisJob::AnalysisJob(const FileFormat& format, OpenFile file, std::string fullPath,
                         AnalysisOptions options)
    : m_format(format), m_file(std::move(file)), m_hadFile(m_file.isOpen()),
      m_fullPath(std::move(fullPath)), m_options(std::move(options))
{
}

void AnalysisJob::run(const std::atomic<bool>& stopping)
{
    RecordingSink sink(*this, stopping);
    m_outcome = m_format.analyse(std::move(m_file), m_fullPath, m_options, sink);
    sink.tellProgress();
    const std::lock_guard lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

void AnalysisJob::drop()
{
    m_outcome.stopped = true;
    const std::lock_guard lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

void AnalysisJob::tell(Told what, std::int64_t value, const std::string& text)
{
    const std::lock_guard lock(m_mutex);
    // The scan's progress comes for every frame: a newer value replaces one not shown yet.
    if (what == Told::ScanProgress && m_told.size() > m_shown
        && m_told.back().what == Told::ScanProgress) {
        m_told.back().value = value;
        return;
    }
    m_told.push_back({what, value, text});
    // The walk's thread looks for progress now and then anyway; waking it for every frame
    // would cost a switch of threads per frame.
    if (what != Told::ScanProgress)
        m_changed.notify_all();
}

AnalysisJob::Shown AnalysisJob::showProgress(WalkContext& walk, int waitMs)
{
    std::vector<Telling> fresh;
    bool done = false;
    {
        std::unique_lock lock(m_mutex);
        if (m_told.size() == m_shown && !m_done)
            m_changed.wait_for(lock, std::chrono::milliseconds(waitMs));
        fresh.assign(m_told.begin() + static_cast<std::ptrdiff_t>(m_shown), m_told.end());
        m_shown = m_told.size();
        done = m_done;
    }
    WalkReporter& reporter = walk.reporter;
    Shown shown;
    for (const Telling& telling : fresh) {
        switch (telling.what) {
        case Told::Analysing:
            reporter.analysing(m_fullPath);
            break;
        case Told::ScanStarted:
            reporter.scanStarted(telling.value);
            break;
        case Told::ScanProgress:
            reporter.scanProgress(telling.value);
            shown.scanProgress = true;
            break;
        case Told::ScanFinished:
            reporter.scanFinished();
            break;
        case Told::Error:
            walk.addError(telling.text);
            break;
        }
    }
    shown.done = done;
    return shown;
}

AnalysisPool::AnalysisPool(int workers)
{
    for (int i = 0; i < workers; ++i)
        m_threads.emplace_back([this] { serve(); });
}

AnalysisPool::~AnalysisPool()
{
    stop();
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void AnalysisPool::submit(std::shared_ptr<AnalysisJob> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void AnalysisPool::stop()
{
    m_stopping = true;
    std::deque<std::shared_ptr<AnalysisJob>> dropped;
    {
        const std::lock_guard lock(m_mutex);
        dropped.swap(m_queue);
    }
    for (const auto& job : dropped)
        job->drop();
}

void AnalysisPool::serve()
{
    for (;;) {
        std::shared_ptr<AnalysisJob> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        job->run(m_stopping);
    }
}

} // namespace tagrelay
