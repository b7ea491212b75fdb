#include "net/RetryPolicy.h"

#include "net/ReplyVerdict.h"
#include "net/RequestPacing.h"

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

    // The back-off may start elsewhere than at a second, doubling alike.
    const RetryPolicy quick(
        2, [] { return 0.5; }, 10ms);
    RetryPolicy::Tries quickTries;
    EXPECT_EQ(quick.nextTry(quickTries, verdict(ReplyVerdict::Kind::Passing)), 10ms);
    EXPECT_EQ(quick.nextTry(quickTries, verdict(ReplyVerdict::Kind::Passing)), 20ms);
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

namespace {

using zp::RequestPacing;
using Events = std::vector<std::pair<char, int>>;

// Events at milliseconds from a fixed start: "S" a request started, "O" an
// answer came, "T" a throttling answer; then the pace and the wait of a
// request that would start at `at`.
struct PacingCase {
    const char* name;
    Events events;
    double rate;
    int at;
    std::chrono::milliseconds wait;
};

Events answers(int count, int from, int step)
{
    Events events;
    for (int i = 0; i < count; ++i)
        events.emplace_back('O', from + i * step);
    return events;
}

Events operator+(Events a, const Events& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RequestPacingTest : public ::testing::TestWithParam<PacingCase> { };

TEST_P(RequestPacingTest, PaceAndWait)
{
    const RequestPacing::Clock::time_point start {};
    RequestPacing pacing;
    for (const auto& [kind, ms] : GetParam().events) {
        const auto when = start + std::chrono::milliseconds(ms);
        if (kind == 'S')
            pacing.onStarted(when);
        else if (kind == 'O')
            pacing.onSuccess(when);
        else
            pacing.onThrottled(when);
    }
    EXPECT_NEAR(pacing.rate(), GetParam().rate, 1e-9);
    EXPECT_EQ(
        pacing.waitBeforeNext(start + std::chrono::milliseconds(GetParam().at)), GetParam().wait);
}

INSTANTIATE_TEST_SUITE_P(Events, RequestPacingTest,
    ::testing::Values(PacingCase { "UnpacedUntilThrottled",
                          Events { { 'S', 0 } } + answers(30, 0, 10), 0, 300, 0ms },
        // 10 answers seen over the first second: 9 a second, one every 112 ms.
        PacingCase { "FirstThrottleTakesAShareOfWhatCame",
            Events { { 'S', 0 } } + answers(10, 0, 90) + Events { { 'T', 1000 }, { 'S', 1000 } }, 9,
            1050, 62ms },
        PacingCase { "ThrottlesThatComeTogetherCountOnce",
            Events { { 'S', 0 } } + answers(10, 0, 90) + Events { { 'T', 1000 }, { 'T', 1200 } }, 9,
            0, 112ms },
        // After the first slow-down every answer adds half a request a second.
        PacingCase { "GrowsFastAfterTheFirstSlowDown",
            Events { { 'S', 0 } } + answers(10, 0, 90) + Events { { 'T', 1000 } }
                + answers(4, 1100, 100),
            11, 0, 91ms },
        // The pause after the first slow-down (1 to 3 s) is no part of the
        // host's rate: 20 answers in the second after it, 18 a second.
        PacingCase { "PauseIsNotCountedAndGrowthSlowsAfterTheSecond",
            Events { { 'S', 0 } } + answers(10, 0, 90) + Events { { 'T', 1000 }, { 'S', 3000 } }
                + answers(20, 3000, 45) + Events { { 'T', 4000 } } + answers(2, 4100, 10),
            18.02, 3000, 56ms },
        PacingCase { "NothingCameBeforeTheSlowDown",
            Events { { 'S', 0 }, { 'T', 10 }, { 'S', 10 } }, RequestPacing::kMinRate, 1010,
            1000ms }),
    [](const ::testing::TestParamInfo<PacingCase>& info) { return info.param.name; });

} // namespace
