#pragma once

#include <chrono>
#include <deque>

namespace zp {

// Spaces the requests to a host once it has asked to slow down, so that a
// host that counts requests (a rate limit that answers 429 beyond it) is not
// asked again and again, each time costing a pause. Until the first
// throttling answer requests are not spaced. At a throttling answer the pace
// becomes kShare of the rate the host was seen to allow: the answers that came
// within the last kWindow, counted from the first request after the last
// throttling answer (a pause the host asked for is no part of its rate), over
// at least a second; at most halving a pace already set, and unchanged by a
// slow-down that comes within kShortest of the first request after the last
// one (too little to tell a rate by).
// From there the pace grows
// with every answer that came: fast until the next throttling answer (the
// first estimate is rough), slowly after it. Throttling answers that come
// together (the requests under way at that moment) count as one.
class RequestPacing {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds kWindow { 5 };
    static constexpr double kShare = 0.9;
    static constexpr double kMinRate = 0.5; // requests per second, at the least
    static constexpr double kFastGrowth = 0.5; // requests per second, per answer
    static constexpr double kSlowGrowth = 0.01;
    static constexpr std::chrono::milliseconds kTogether { 500 };
    static constexpr std::chrono::seconds kShortest { 1 };

    // How long a request that would start at now must wait first.
    std::chrono::milliseconds waitBeforeNext(Clock::time_point now) const;
    void onStarted(Clock::time_point now);
    void onSuccess(Clock::time_point now);
    void onThrottled(Clock::time_point now);

    // Requests per second; 0 while they are not spaced.
    double rate() const { return m_rate; }

private:
    void forgetBefore(Clock::time_point start);

    std::deque<Clock::time_point> m_successes; // within kWindow
    Clock::time_point m_windowStart; // the first start after the last throttling answer
    bool m_windowOpen = false; // m_windowStart is set
    Clock::time_point m_lastStart;
    Clock::time_point m_lastThrottled;
    bool m_started = false; // m_lastStart is set
    double m_rate = 0;
    int m_throttles = 0;
};

} // namespace zp
