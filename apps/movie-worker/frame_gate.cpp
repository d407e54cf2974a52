#include "frame_gate.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace tagrelay {

void FrameGate::reset()
{
    const std::lock_guard lock(m_mutex);
    m_open = false;
    m_started = false;
    m_firstNs = 0;
    m_allowedNs = 0;
    m_passed = 0;
    m_lastNs = 0;
    m_lastEndNs = 0;
    m_waitingNs.reset();
    m_ended = false;
}

void FrameGate::open()
{
    const std::lock_guard lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
}

void FrameGate::pass(std::int64_t timestampNs, std::int64_t durationNs, std::int64_t frameNs)
{
    std::unique_lock lock(m_mutex);
    if (m_open)
        return;
    // A picture without a time stamp follows the one before it.
    std::int64_t atNs = m_lastEndNs;
    if (timestampNs >= 0) {
        if (!m_started)
            m_firstNs = timestampNs;
        atNs = timestampNs - m_firstNs;
    }
    m_started = true;
    while (!m_open && atNs > m_allowedNs) {
        m_waitingNs = atNs;
        m_changed.notify_all();
        m_changed.wait(lock);
    }
    m_waitingNs.reset();
    if (m_open)
        return;
    ++m_passed;
    m_lastNs = atNs;
    m_lastEndNs = atNs + (durationNs > 0 ? durationNs : std::max<std::int64_t>(frameNs, 1));
    m_changed.notify_all();
}

void FrameGate::end()
{
    const std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

bool FrameGate::knowsFrameAt(std::int64_t atNs) const
{
    return m_open || m_ended || (m_waitingNs && *m_waitingNs > atNs);
}

std::optional<GateReading> FrameGate::readingAt(std::int64_t atNs, int waitMs)
{
    std::unique_lock lock(m_mutex);
    m_allowedNs = std::max(m_allowedNs, atNs);
    m_changed.notify_all();
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                            [&] { return knowsFrameAt(atNs); }))
        return std::nullopt;

    GateReading reading;
    const std::int64_t frame = std::max<std::int64_t>(m_passed - 1, 0);
    reading.frame = static_cast<std::int32_t>(
        std::min<std::int64_t>(frame, std::numeric_limits<std::int32_t>::max()));
    if (m_waitingNs) {
        reading.untilNs = *m_waitingNs;
    } else if (m_ended && atNs >= m_lastEndNs) {
        reading.ended = true;
    } else {
        reading.untilNs = m_ended ? m_lastEndNs : atNs + 1;
    }
    return reading;
}

} // namespace tagrelay
