#include "net/RetryPolicy.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>

namespace zp {

RetryPolicy::RetryPolicy(
    int passingRetries, std::function<double()> random, std::chrono::milliseconds firstBackOff)
    : m_passingRetries(std::max(passingRetries, 0))
    , m_random(std::move(random))
    , m_firstBackOff(firstBackOff)
{
    if (!m_random)
        m_random = [] { return QRandomGenerator::global()->generateDouble(); };
}

int RetryPolicy::throttleRetries() const
{
    return std::max(kThrottleRetries, m_passingRetries);
}

std::optional<std::chrono::milliseconds> RetryPolicy::nextTry(
    Tries& tries, const ReplyVerdict& verdict) const
{
    switch (verdict.kind) {
    case ReplyVerdict::Kind::Throttled:
        if (tries.throttled >= throttleRetries())
            return std::nullopt;
        ++tries.throttled;
        if (verdict.retryAfter)
            return verdict.retryAfter;
        return backOff(tries.throttled, m_random(), m_firstBackOff);
    case ReplyVerdict::Kind::Passing:
        if (tries.passing >= m_passingRetries)
            return std::nullopt;
        ++tries.passing;
        return backOff(tries.passing, m_random(), m_firstBackOff);
    case ReplyVerdict::Kind::Success:
    case ReplyVerdict::Kind::Final:
        break;
    }
    return std::nullopt;
}

std::chrono::milliseconds RetryPolicy::backOff(
    int retry, double random, std::chrono::milliseconds first)
{
    const double nominal = std::min(
        std::ldexp(double(first.count()), std::max(retry, 1) - 1), double(kMaxRetryAfter.count()));
    const double factor = 0.75 + std::clamp(random, 0.0, 1.0) / 2.0;
    return std::chrono::milliseconds(
        std::min(qint64(nominal * factor), qint64(kMaxRetryAfter.count())));
}

HostConcurrency::HostConcurrency(int maximum)
    : m_maximum(std::max(maximum, 1))
    , m_limit(m_maximum)
{
}

void HostConcurrency::onThrottled()
{
    m_limit = std::max(1, m_limit / 2);
    m_successes = 0;
}

void HostConcurrency::onSuccess()
{
    if (m_limit >= m_maximum)
        return;
    if (++m_successes >= kSuccessesToGrow) {
        ++m_limit;
        m_successes = 0;
    }
}

} // namespace zp
