#include "net/RetryPolicy.h"

#include "net/ReplyVerdict.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zp::HostConcurrency;
using zp::ReplyVerdict;
using zp::RetryPolicy;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0), Qt::UTC);

struct RetryAfterCase {
    const char* value;
    std::optional<std::chrono::milliseconds> wait;
};

class RetryAfterTest : public ::testing::TestWithParam<RetryAfterCase> { };

TEST_P(RetryAfterTest, ReadAsAWaitFromNow)
{
    EXPECT_EQ(zp::ParseRetryAfter(GetParam().value, kNow), GetParam().wait) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, RetryAfterTest,
    ::testing::Values(RetryAfterCase { "2", 2000ms }, RetryAfterCase { " 0 ", 0ms },
        RetryAfterCase { "120", 120'000ms },
        RetryAfterCase { "86400", zp::kMaxRetryAfter }, // capped
        RetryAfterCase { "99999999999999999999", std::nullopt }, // not a number we can hold
        RetryAfterCase { "Tue, 08 Dec 2026 10:00:30 GMT", 30'000ms },
        RetryAfterCase { "Tuesday, 08-Dec-26 10:01:00 GMT", 60'000ms },
        RetryAfterCase { "Tue Dec  8 10:00:05 2026", 5000ms },
        RetryAfterCase { "Tue, 08 Dec 2026 09:00:00 GMT", 0ms }, // in the past
        RetryAfterCase { "Wed, 09 Dec 2026 10:00:00 GMT", zp::kMaxRetryAfter },
        RetryAfterCase { "-5", std::nullopt }, RetryAfterCase { "soon", std::nullopt },
        RetryAfterCase { "", std::nullopt }));

ReplyVerdict verdict(ReplyVerdict::Kind kind, std::optional<std::chrono::milliseconds> after = {})
{
    return { kind, QStringLiteral("why"), after };
}

// The back-off doubles from one second, spread by at most a quarter either
// way, and never passes the cap.
TEST(RetryPolicyTest, BackOffDoublesWithinItsJitterBounds)
{
    const std::chrono::milliseconds nominal[] = { 1000ms, 2000ms, 4000ms, 8000ms, 16000ms };
    for (int retry = 1; retry <= 5; ++retry) {
        const auto low = RetryPolicy::backOff(retry, 0.0);
        const auto high = RetryPolicy::backOff(retry, 0.999999);
        EXPECT_EQ(low, nominal[retry - 1] * 3 / 4) << retry;
        EXPECT_GE(high, nominal[retry - 1] * 5 / 4 - 1ms) << retry;
        EXPECT_LT(high, nominal[retry - 1] * 5 / 4) << retry;
    }
    EXPECT_EQ(RetryPolicy::backOff(40, 0.999999), zp::kMaxRetryAfter);
}

TEST(RetryPolicyTest, ThrottledRequestsWaitAsAskedAndAreTriedAtLeastFiveTimes)
{
    const RetryPolicy policy(2, [] { return 0.5; });
    RetryPolicy::Tries tries;
    EXPECT_EQ(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Throttled, 2000ms)), 2000ms);
    EXPECT_EQ(
        policy.nextTry(tries, verdict(ReplyVerdict::Kind::Throttled)), 2000ms); // 2nd back-off
    for (int i = 3; i <= RetryPolicy::kThrottleRetries; ++i)
        EXPECT_TRUE(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Throttled))) << i;
    EXPECT_FALSE(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Throttled)));
    // Throttling spent none of the passing faults' tries.
    EXPECT_EQ(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Passing)), 1000ms);
}

TEST(RetryPolicyTest, PassingFaultsGetTheirRetriesAndFinalFailuresNone)
{
    const RetryPolicy policy(2, [] { return 0.0; });
    RetryPolicy::Tries tries;
    EXPECT_FALSE(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Final)));
    EXPECT_EQ(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Passing)), 750ms);
    EXPECT_EQ(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Passing)), 1500ms);
    EXPECT_FALSE(policy.nextTry(tries, verdict(ReplyVerdict::Kind::Passing)));

    const RetryPolicy many(8);
    EXPECT_EQ(many.throttleRetries(), 8); // more retries asked for than the floor
}

TEST(HostConcurrencyTest, HalvesOnThrottlingAndGrowsBackOneAtATime)
{
    HostConcurrency host(6);
    EXPECT_EQ(host.limit(), 6);
    host.onThrottled();
    EXPECT_EQ(host.limit(), 3);
    host.onThrottled();
    host.onThrottled();
    EXPECT_EQ(host.limit(), 1);
    host.onThrottled();
    EXPECT_EQ(host.limit(), 1);

    for (int i = 1; i < HostConcurrency::kSuccessesToGrow; ++i)
        host.onSuccess();
    EXPECT_EQ(host.limit(), 1);
    host.onSuccess();
    EXPECT_EQ(host.limit(), 2);

    // A throttling answer starts the count of successes anew.
    for (int i = 1; i < HostConcurrency::kSuccessesToGrow; ++i)
        host.onSuccess();
    host.onThrottled();
    for (int i = 1; i < HostConcurrency::kSuccessesToGrow; ++i)
        host.onSuccess();
    EXPECT_EQ(host.limit(), 1);

    for (int i = 0; i < 100 * HostConcurrency::kSuccessesToGrow; ++i)
        host.onSuccess();
    EXPECT_EQ(host.limit(), 6); // never above the maximum
}

} // namespace
