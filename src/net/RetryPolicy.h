#pragma once

#include "net/ReplyVerdict.h"

#include <chrono>
#include <functional>
#include <optional>

namespace zp {

// When a request that failed is tried again, the same for pages and
// pictures:
//  - Final failures are not tried again;
//  - a throttled request waits as the server's Retry-After says (at most
//    kMaxRetryAfter), otherwise an exponential back-off from kFirstBackOff,
//    and is tried at least kThrottleRetries times, whatever passingRetries
//    says;
//  - a passing fault is tried passingRetries times, with the same back-off.
// The back-off before retry n is kFirstBackOff × 2^(n-1), at most
// kMaxRetryAfter, spread by a jitter factor in [0.75, 1.25) so that
// requests that failed together do not come back together.
class RetryPolicy {
public:
    static constexpr std::chrono::milliseconds kFirstBackOff { 1000 };
    static constexpr int kThrottleRetries = 5;

    // Counts the failures of one request so far.
    struct Tries {
        int throttled = 0;
        int passing = 0;
    };

    // random: uniform in [0, 1); tests hand in a fixed one. firstBackOff:
    // the back-off before the first retry; tests hand in a short one.
    explicit RetryPolicy(int passingRetries, std::function<double()> random = {},
        std::chrono::milliseconds firstBackOff = kFirstBackOff);

    // After a failure judged verdict: the wait before the next try, or
    // nothing when the request has failed for good. Counts the failure in
    // tries.
    std::optional<std::chrono::milliseconds> nextTry(
        Tries& tries, const ReplyVerdict& verdict) const;

    int passingRetries() const { return m_passingRetries; }
    int throttleRetries() const;

    // The back-off before retry `retry` (1 for the first) with jitter
    // factor 0.75 + random / 2.
    static std::chrono::milliseconds backOff(
        int retry, double random, std::chrono::milliseconds first = kFirstBackOff);

private:
    int m_passingRetries;
    std::function<double()> m_random;
    std::chrono::milliseconds m_firstBackOff;
};

// How many requests one host gets at once: starts at `maximum`, halves
// (down to 1) on every throttling answer and grows back by one after
// kSuccessesToGrow successes in a row, never above `maximum`.
class HostConcurrency {
public:
    static constexpr int kSuccessesToGrow = 8;

    explicit HostConcurrency(int maximum);

    int limit() const { return m_limit; }
    int maximum() const { return m_maximum; }
    void onThrottled();
    void onSuccess();

private:
    int m_maximum;
    int m_limit;
    int m_successes = 0;
};

} // namespace zp
