// The page engine (PagePrefetcher over NetworkPageSource) against a real
// HTTP server on loopback: what one page read gives, when it ends, and how
// a throttled page is tried again.

#include "net/NetworkPageSource.h"
#include "net/PagePrefetcher.h"
#include "net/PageRequest.h"
#include "support/TestHttpServer.h"
#include "util/StopFlag.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QTcpServer>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using zp::ReplyVerdict;
using zp::test::TestHttpServer;
using Response = TestHttpServer::Response;
using Kind = ReplyVerdict::Kind;

namespace {

// Long enough that a wait which should end early is told apart from one that
// runs to the deadline, whatever the machine's load.
constexpr int kLongTimeout = 30;
constexpr qint64 kWellBeforeLongTimeoutMs = 20'000;
// The back-off of throttled pages without Retry-After, short for the tests;
// the random part is fixed at the middle (factor 1).
constexpr std::chrono::milliseconds kFirstBackOff = 100ms;
constexpr qint64 kPageBytesLimit = zp::PageRequest::kMaxBodyBytes;

class PageEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen()); }

    QByteArray fetch(const QString& url, int timeoutSeconds)
    {
        QElapsedTimer clock;
        clock.start();
        QByteArray page = engine.ReadHTML(url, QString(), timeoutSeconds);
        elapsedMs = clock.elapsed();
        return page;
    }

    TestHttpServer server;
    zp::StopFlag stop;
    zp::NetworkPageSource source { 1 };
    zp::PagePrefetcher engine { source, stop, 1, kLongTimeout,
        zp::RetryPolicy(
            0, [] { return 0.5; }, kFirstBackOff) };
    qint64 elapsedMs = 0;
};

TEST_F(PageEngineTest, OkAnswerGivesTheRawBodyBytes)
{
    const QByteArray page = "<html><body>Hyv\xc3\xa4 \xe2\x82\xac\0tail</body></html>"_ba;
    server.route("/catalog/3833/Zavrinello", Response::ok(page));

    EXPECT_EQ(fetch(server.url(u"/catalog/3833/Zavrinello"_s), kLongTimeout), page);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0).method, "GET");
    EXPECT_TRUE(server.requests().at(0).body.isEmpty());
}

TEST_F(PageEngineTest, LateOkAnswerWithinTheDeadlineIsTaken)
{
    Response late = Response::ok("late page");
    late.delay = 300ms;
    server.route("/late", late);

    EXPECT_EQ(fetch(server.url(u"/late"_s), kLongTimeout), "late page");
}

TEST_F(PageEngineTest, SlowBodyIsReturnedWhole)
{
    Response slow = Response::ok(TestHttpServer::pattern(10'000));
    slow.pieceBytes = 1000;
    slow.pieceDelay = 20ms;
    server.route("/slow", slow);

    EXPECT_EQ(fetch(server.url(u"/slow"_s), kLongTimeout), TestHttpServer::pattern(10'000));
}

TEST_F(PageEngineTest, CompressedPageIsInflated)
{
    const QByteArray page = TestHttpServer::pattern(50'000);
    Response compressed = Response::ok(qCompress(page).mid(4)); // qCompress puts the size first
    compressed.headers.append({ QByteArray("Content-Encoding"), QByteArray("deflate") });
    server.route("/z", compressed);

    EXPECT_EQ(fetch(server.url(u"/z"_s), kLongTimeout), page);
}

TEST_F(PageEngineTest, RedirectsAreFollowed)
{
    server.route("/old", Response::redirect(301, "/moved"));
    server.route("/moved", Response::redirect(302, server.url(u"/new?x=1"_s).toLatin1()));
    server.route("/new?x=1", Response::ok("new page"));

    EXPECT_EQ(fetch(server.url(u"/old"_s), kLongTimeout), "new page");
    // Qt 6.4 sometimes sends a redirected request twice, so the hops are
    // checked, not the number of requests.
    QList<QByteArray> targets;
    for (const auto& request : server.requests())
        targets.append(request.target);
    EXPECT_TRUE(targets.contains("/moved"));
    EXPECT_TRUE(targets.contains("/new?x=1"));
}

TEST_F(PageEngineTest, RedirectToAnotherHostOrPortIsNotFollowed)
{
    TestHttpServer other;
    ASSERT_TRUE(other.listen());
    other.route("/new", Response::ok("elsewhere"));
    server.route("/old", Response::redirect(302, other.url(u"/new"_s).toLatin1()));

    EXPECT_TRUE(fetch(server.url(u"/old"_s), 1).isEmpty());
    EXPECT_TRUE(other.requests().isEmpty());
}

TEST_F(PageEngineTest, ConnectionIsKeptAliveBetweenPages)
{
    server.route("/a", Response::ok("a"));
    server.route("/b", Response::ok("b"));

    EXPECT_EQ(fetch(server.url(u"/a"_s), kLongTimeout), "a");
    EXPECT_EQ(fetch(server.url(u"/b"_s), kLongTimeout), "b");
    EXPECT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(PageEngineTest, BodyArgumentIsSentWithTheGet)
{
    server.route("/form", Response::ok("done"));

    EXPECT_EQ(engine.ReadHTML(server.url(u"/form"_s), u"q=1"_s, kLongTimeout), "done");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0).method, "GET");
    EXPECT_EQ(server.requests().at(0).body, "q=1");
}

Response neverAnswering()
{
    Response response;
    response.neverAnswer = true;
    return response;
}

Response hungUp(Response::Hangup how)
{
    Response response;
    response.hangup = how;
    return response;
}

TEST_F(PageEngineTest, OnlySilenceWaitsOutTheDeadline)
{
    constexpr int kTimeout = 1;
    server.route("/page", neverAnswering());

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kTimeout).isEmpty());
    EXPECT_GE(elapsedMs, kTimeout * 1000);
    EXPECT_EQ(engine.lastVerdict().kind, Kind::Passing);
    EXPECT_EQ(server.requests().size(), 1);
}

// A status of 200 is the page, whatever its reason phrase.
TEST_F(PageEngineTest, AnyReasonPhraseOf200GivesThePage)
{
    for (const char* reason : { "ok", "OK then", "", "Kunnossa" }) {
        server.route("/page", Response::status(200, reason, "<html>page</html>"));
        EXPECT_EQ(fetch(server.url(u"/page"_s), kLongTimeout), "<html>page</html>") << reason;
        EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    }
}

// Any other answer ends the wait at once, long before the deadline, judged
// as a fault that may pass or one that will not.
struct FailureCase {
    const char* name;
    Response response;
    enum Address { Served, Refused, Malformed } address = Served;
    Kind kind;
};

class FailureAtOnceTest : public PageEngineTest,
                          public ::testing::WithParamInterface<FailureCase> { };

// A port on 127.0.0.1 with nobody listening.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    return probe.serverPort();
}

TEST_P(FailureAtOnceTest, EmptyAtOnce)
{
    const FailureCase& c = GetParam();
    server.route("/page", c.response);
    QString url = server.url(u"/page"_s);
    if (c.address == FailureCase::Refused)
        url = u"http://127.0.0.1:%1/page"_s.arg(closedPort());
    else if (c.address == FailureCase::Malformed)
        url = u"nonsense:/page"_s;

    EXPECT_TRUE(fetch(url, kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    EXPECT_EQ(engine.lastVerdict().kind, c.kind) << engine.lastFailure().toStdString();
}

INSTANTIATE_TEST_SUITE_P(PageEngine, FailureAtOnceTest,
    ::testing::Values(
        FailureCase { "NotFound", Response::status(404, "Not Found", "<html>gone</html>"),
            FailureCase::Served, Kind::Final },
        FailureCase { "Gone", Response::status(410, "OK", "<html>gone</html>"), FailureCase::Served,
            Kind::Final },
        FailureCase { "EmptyPage", Response::ok({}), FailureCase::Served, Kind::Final },
        FailureCase { "ServerError", Response::status(500, "Internal Server Error", "oops"),
            FailureCase::Served, Kind::Passing },
        FailureCase { "ClosedWithoutAnswer", hungUp(Response::Hangup::Close), FailureCase::Served,
            Kind::Passing },
        FailureCase { "ResetWithoutAnswer", hungUp(Response::Hangup::Reset), FailureCase::Served,
            Kind::Passing },
        FailureCase { "ConnectionRefused", {}, FailureCase::Refused, Kind::Passing },
        FailureCase { "MalformedAddress", {}, FailureCase::Malformed, Kind::Final }),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(PageEngineTest, StopSetAtEntryAnswersEmptyWithoutARequest)
{
    server.route("/page", Response::ok("page"));
    stop.set();

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    EXPECT_TRUE(server.requests().isEmpty());
}

struct StopCase {
    const char* name;
    Response response;
};

class StopDuringWaitTest : public PageEngineTest,
                           public ::testing::WithParamInterface<StopCase> { };

TEST_P(StopDuringWaitTest, StopEndsTheWaitEmpty)
{
    server.route("/page", GetParam().response);
    QObject::connect(&server, &TestHttpServer::requestReceived, &stop, [this] { stop.set(); });

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
}

Response throttled(int code, QByteArray retryAfter)
{
    Response response = Response::status(code, "Slow Down", "later");
    if (!retryAfter.isEmpty())
        response.headers.append({ QByteArray("Retry-After"), retryAfter });
    return response;
}

INSTANTIATE_TEST_SUITE_P(PageEngine, StopDuringWaitTest,
    ::testing::Values(StopCase { "ServerSilent", neverAnswering() },
        StopCase { "SlowAnswer",
            [] {
                Response slow = Response::ok("late");
                slow.delay = 20s;
                return slow;
            }() },
        StopCase { "WaitingOutRetryAfter", throttled(429, "600") }),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

// A throttled page is tried again on its own after the wait the server asks
// for (or the back-off without one); the caller only sees the page.
struct ThrottleCase {
    const char* name;
    int code;
    QByteArray retryAfter; // "+N": an HTTP date N seconds after the request
    std::chrono::milliseconds wait; // at least, before the second request
};

class ThrottledPageTest : public PageEngineTest,
                          public ::testing::WithParamInterface<ThrottleCase> { };

QByteArray httpDateIn(std::chrono::seconds from)
{
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc().addSecs(from.count()),
            u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s)
        .toLatin1();
}

TEST_P(ThrottledPageTest, IsRetriedAfterTheWaitAndGivesThePage)
{
    const ThrottleCase& c = GetParam();
    QList<QElapsedTimer> arrivals;
    server.route("/page", [&](const TestHttpServer::Request&) {
        arrivals.append(QElapsedTimer());
        arrivals.last().start();
        if (arrivals.size() > 1)
            return Response::ok("page");
        return throttled(c.code,
            c.retryAfter.startsWith('+') ? httpDateIn(std::chrono::seconds(c.retryAfter.toInt()))
                                         : c.retryAfter);
    });
    QStringList throttledUrls;
    engine.setThrottledHandler(
        [&](const QString& url, const ReplyVerdict&) { throttledUrls.append(url); });

    EXPECT_EQ(fetch(server.url(u"/page"_s), kLongTimeout), "page");
    ASSERT_EQ(arrivals.size(), 2);
    EXPECT_GE(arrivals.first().elapsed() - arrivals.last().elapsed(), c.wait.count() - 5);
    EXPECT_EQ(throttledUrls, QStringList { server.url(u"/page"_s) });
}

INSTANTIATE_TEST_SUITE_P(PageEngine, ThrottledPageTest,
    ::testing::Values(ThrottleCase { "TooManyRequests", 429, {}, kFirstBackOff },
        ThrottleCase { "Unavailable", 503, {}, kFirstBackOff },
        ThrottleCase { "RetryAfterSeconds", 429, "1", 1000ms },
        ThrottleCase { "RetryAfterDate", 503, "+2", 1000ms },
        ThrottleCase { "RetryAfterOnAnotherStatus", 500, "1", 1000ms }),
    [](const ::testing::TestParamInfo<ThrottleCase>& info) { return info.param.name; });

TEST_F(PageEngineTest, ThrottledPageFailsAfterTheThrottleRetries)
{
    server.route("/page", throttled(429, "0"));

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_EQ(server.requests().size(), 1 + zp::RetryPolicy::kThrottleRetries);
    EXPECT_EQ(engine.lastVerdict().kind, Kind::Throttled);
    EXPECT_EQ(engine.lastFailure(), u"429"_s);
}

// An "OK" answer whose body cannot be had whole is a failure at once; there
// is nothing left to wait for.
struct BrokenBodyCase {
    const char* name;
    Response response;
    const char* reason; // what the failure says; nullptr: not checked
};

class BrokenBodyTest : public PageEngineTest,
                       public ::testing::WithParamInterface<BrokenBodyCase> { };

TEST_P(BrokenBodyTest, EmptyWithoutWaitingOutTheDeadline)
{
    server.route("/page", GetParam().response);

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    if (GetParam().reason) {
        EXPECT_EQ(engine.lastVerdict().reason, QString::fromUtf8(GetParam().reason));
    }
}

Response oversized(bool announced)
{
    Response response = Response::generated(kPageBytesLimit + 1);
    response.contentLength = announced;
    return response;
}

// A small answer that the client inflates past the limit.
Response oversizedCompressed()
{
    const QByteArray zlib = qCompress(TestHttpServer::pattern(kPageBytesLimit + 4096), 9);
    Response response = Response::ok(zlib.mid(4)); // qCompress puts the size first
    response.headers.append({ QByteArray("Content-Encoding"), QByteArray("deflate") });
    return response;
}

Response cutShort()
{
    Response response = Response::generated(100'000);
    response.cutAfterBodyBytes = 40'000;
    return response;
}

INSTANTIATE_TEST_SUITE_P(PageEngine, BrokenBodyTest,
    ::testing::Values(BrokenBodyCase { "OverLimitAnnounced", oversized(true), "больше 64 МБ" },
        BrokenBodyCase { "OverLimitUnannounced", oversized(false), "больше 64 МБ" },
        BrokenBodyCase { "OverLimitCompressed", oversizedCompressed(), nullptr },
        BrokenBodyCase { "ConnectionCutMidBody", cutShort(), nullptr }),
    [](const ::testing::TestParamInfo<BrokenBodyCase>& info) { return info.param.name; });

TEST_F(PageEngineTest, BodyOfExactlyTheLimitIsAccepted)
{
    server.route("/big", Response::generated(kPageBytesLimit));

    const QByteArray page = fetch(server.url(u"/big"_s), kLongTimeout);
    ASSERT_EQ(page.size(), kPageBytesLimit);
    EXPECT_EQ(page.right(4096), TestHttpServer::pattern(4096, page.size() - 4096));
}

} // namespace
