#include "net/RequestPacing.h"

#include <algorithm>

namespace zp {

using namespace std::chrono;

milliseconds RequestPacing::waitBeforeNext(Clock::time_point now) const
{
    if (m_rate <= 0 || !m_started)
        return milliseconds(0);
    const auto next = m_lastStart + duration_cast<Clock::duration>(duration<double>(1.0 / m_rate));
    return std::max(milliseconds(0), ceil<milliseconds>(next - now));
}

void RequestPacing::onStarted(Clock::time_point now)
{
    if (!m_windowOpen)
        m_windowStart = now;
    m_windowOpen = true;
    m_started = true;
    m_lastStart = now;
}

void RequestPacing::onSuccess(Clock::time_point now)
{
    forgetBefore(now - kWindow);
    m_successes.push_back(now);
    if (m_rate > 0)
        m_rate += m_throttles > 1 ? kSlowGrowth : kFastGrowth;
}

void RequestPacing::onThrottled(Clock::time_point now)
{
    if (m_throttles > 0 && now - m_lastThrottled <= kTogether)
        return; // the same slow-down, told by another request under way
    ++m_throttles;
    m_lastThrottled = now;
    const bool measured = m_windowOpen && now - m_windowStart >= kShortest;
    if (m_rate <= 0 || measured) {
        const Clock::time_point from = std::max(now - kWindow, m_windowOpen ? m_windowStart : now);
        forgetBefore(from);
        const double seen = std::max(1.0, duration<double>(now - from).count());
        const double allowed = kShare * double(m_successes.size()) / seen;
        m_rate = std::max({ kMinRate, allowed, m_rate / 2 });
    }
    m_windowOpen = false;
}

void RequestPacing::forgetBefore(Clock::time_point start)
{
    while (!m_successes.empty() && m_successes.front() < start)
        m_successes.pop_front();
}

} // namespace zp
