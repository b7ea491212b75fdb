#include "net/PageFetcher.h"

#include "support/TestHttpServer.h"
#include "util/StopFlag.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <chrono>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using zp::test::TestHttpServer;
using Response = TestHttpServer::Response;

namespace {

// Long enough that a wait which should end early is told apart from one that
// runs to the deadline, whatever the machine's load.
constexpr int kLongTimeout = 30;
constexpr qint64 kWellBeforeLongTimeoutMs = 20'000;

class PageFetcherTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen()); }

    QByteArray fetch(const QString& url, int timeoutSeconds)
    {
        QElapsedTimer clock;
        clock.start();
        QByteArray page = fetcher.ReadHTML(url, QString(), timeoutSeconds);
        elapsedMs = clock.elapsed();
        return page;
    }

    TestHttpServer server;
    QNetworkAccessManager manager;
    zp::StopFlag stop;
    zp::PageFetcher fetcher { manager, stop };
    qint64 elapsedMs = 0;
};

// A port on 127.0.0.1 with nobody listening.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    return probe.serverPort();
}

TEST_F(PageFetcherTest, OkAnswerGivesTheRawBodyBytes)
{
    const QByteArray page = "<html><body>Hyv\xc3\xa4 \xe2\x82\xac\0tail</body></html>"_ba;
    server.route("/catalog/3833/Zavrinello", Response::ok(page));

    EXPECT_EQ(fetch(server.url(u"/catalog/3833/Zavrinello"_s), kLongTimeout), page);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0).method, "GET");
    EXPECT_TRUE(server.requests().at(0).body.isEmpty());
}

TEST_F(PageFetcherTest, OkWithEmptyBodyEndsAtOnceWithEmptyResult)
{
    server.route("/empty", Response::ok({}));

    EXPECT_TRUE(fetch(server.url(u"/empty"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(PageFetcherTest, LateOkAnswerWithinTheDeadlineIsTaken)
{
    Response late = Response::ok("late page");
    late.delay = 300ms;
    server.route("/late", late);

    EXPECT_EQ(fetch(server.url(u"/late"_s), kLongTimeout), "late page");
}

TEST_F(PageFetcherTest, SlowBodyIsReturnedWhole)
{
    Response slow = Response::ok(TestHttpServer::pattern(10'000));
    slow.pieceBytes = 1000;
    slow.pieceDelay = 20ms;
    server.route("/slow", slow);

    EXPECT_EQ(fetch(server.url(u"/slow"_s), kLongTimeout), TestHttpServer::pattern(10'000));
}

TEST_F(PageFetcherTest, CompressedPageIsInflated)
{
    const QByteArray page = TestHttpServer::pattern(50'000);
    Response compressed = Response::ok(qCompress(page).mid(4)); // qCompress puts the size first
    compressed.headers.append({ QByteArray("Content-Encoding"), QByteArray("deflate") });
    server.route("/z", compressed);

    EXPECT_EQ(fetch(server.url(u"/z"_s), kLongTimeout), page);
}

TEST_F(PageFetcherTest, RedirectsAreFollowed)
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

TEST_F(PageFetcherTest, RedirectToAnotherHostOrPortIsNotFollowed)
{
    TestHttpServer other;
    ASSERT_TRUE(other.listen());
    other.route("/new", Response::ok("elsewhere"));
    server.route("/old", Response::redirect(302, other.url(u"/new"_s).toLatin1()));

    EXPECT_TRUE(fetch(server.url(u"/old"_s), 1).isEmpty());
    EXPECT_TRUE(other.requests().isEmpty());
}

TEST_F(PageFetcherTest, ConnectionIsKeptAliveBetweenPages)
{
    server.route("/a", Response::ok("a"));
    server.route("/b", Response::ok("b"));

    EXPECT_EQ(fetch(server.url(u"/a"_s), kLongTimeout), "a");
    EXPECT_EQ(fetch(server.url(u"/b"_s), kLongTimeout), "b");
    EXPECT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(PageFetcherTest, BodyArgumentIsSentWithTheGet)
{
    server.route("/form", Response::ok("done"));

    EXPECT_EQ(fetcher.ReadHTML(server.url(u"/form"_s), u"q=1"_s, kLongTimeout), "done");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0).method, "GET");
    EXPECT_EQ(server.requests().at(0).body, "q=1");
}

// A 200 is a page whatever its reason phrase says (HTTP/2 has none).
TEST_F(PageFetcherTest, StatusTwoHundredIsAPageWhateverItsReasonPhrase)
{
    for (const char* reason : { "ok", "OK then", "", "Kunnossa" }) {
        server.route("/page", Response::status(200, reason, "<html>page</html>"));
        EXPECT_EQ(fetch(server.url(u"/page"_s), kLongTimeout), "<html>page</html>") << reason;
        EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    }
}

// Silence is the only answer that is waited out to the deadline.
struct FailingAnswer {
    const char* name;
    Response response;
    enum Address { Served, Refused, Malformed } address = Served;
};

Response neverAnswering()
{
    Response response;
    response.neverAnswer = true;
    return response;
}

Response hangingUp(Response::Hangup how)
{
    Response response;
    response.hangup = how;
    return response;
}

TEST_F(PageFetcherTest, SilenceIsWaitedOutToTheDeadline)
{
    constexpr int kTimeout = 1;
    server.route("/page", neverAnswering());

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kTimeout).isEmpty());
    EXPECT_GE(elapsedMs, kTimeout * 1000);
    EXPECT_EQ(server.requests().size(), 1);
}

// Every answer ends the wait at once, long before the deadline, whether a
// later try may bring the page or not.
class DefinitiveFailureTest : public PageFetcherTest,
                              public ::testing::WithParamInterface<FailingAnswer> { };

TEST_P(DefinitiveFailureTest, EmptyAtOnce)
{
    const FailingAnswer& c = GetParam();
    server.route("/page", c.response);
    QString url = server.url(u"/page"_s);
    if (c.address == FailingAnswer::Refused)
        url = u"http://127.0.0.1:%1/page"_s.arg(closedPort());
    else if (c.address == FailingAnswer::Malformed)
        url = u"nonsense:/page"_s;

    EXPECT_TRUE(fetch(url, kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
}

INSTANTIATE_TEST_SUITE_P(PageFetcher, DefinitiveFailureTest,
    ::testing::Values(
        FailingAnswer { "NotFound", Response::status(404, "Not Found", "<html>gone</html>") },
        FailingAnswer { "Gone", Response::status(410, "OK", "<html>gone</html>") },
        FailingAnswer { "ServerError", Response::status(500, "Internal Server Error", "oops") },
        FailingAnswer { "ConnectionRefused", {}, FailingAnswer::Refused },
        FailingAnswer { "MalformedAddress", {}, FailingAnswer::Malformed },
        FailingAnswer { "TooManyRequests", Response::status(429, "Too Many Requests") },
        FailingAnswer { "ClosedWithoutAnswer", hangingUp(Response::Hangup::Close) },
        FailingAnswer { "ResetWithoutAnswer", hangingUp(Response::Hangup::Reset) }),
    [](const ::testing::TestParamInfo<FailingAnswer>& info) { return info.param.name; });

TEST_F(PageFetcherTest, StopSetAtEntryStillSendsTheRequestButReturnsEmpty)
{
    server.route("/page", Response::ok("page"));
    stop.set();
    QSignalSpy received(&server, &TestHttpServer::requestReceived);

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
    EXPECT_TRUE(received.count() > 0 || received.wait(5000));
}

struct StopCase {
    const char* name;
    Response response;
};

class StopDuringWaitTest : public PageFetcherTest,
                           public ::testing::WithParamInterface<StopCase> { };

TEST_P(StopDuringWaitTest, StopEndsTheWaitEmpty)
{
    server.route("/page", GetParam().response);
    QObject::connect(&server, &TestHttpServer::requestReceived, &stop, [this] { stop.set(); });

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
}

INSTANTIATE_TEST_SUITE_P(PageFetcher, StopDuringWaitTest,
    ::testing::Values(StopCase { "ServerSilent", neverAnswering() },
        StopCase { "SlowAnswer",
            [] {
                Response slow = Response::ok("late");
                slow.delay = 20s;
                return slow;
            }() }),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

// An "OK" answer whose body cannot be had whole is a failure at once; there
// is nothing left to wait for.
struct BrokenBodyCase {
    const char* name;
    Response response;
};

class BrokenBodyTest : public PageFetcherTest,
                       public ::testing::WithParamInterface<BrokenBodyCase> { };

TEST_P(BrokenBodyTest, EmptyWithoutWaitingOutTheDeadline)
{
    server.route("/page", GetParam().response);

    EXPECT_TRUE(fetch(server.url(u"/page"_s), kLongTimeout).isEmpty());
    EXPECT_LT(elapsedMs, kWellBeforeLongTimeoutMs);
}

Response oversized(bool announced)
{
    Response response = Response::generated(zp::PageFetcher::kMaxBodyBytes + 1);
    response.contentLength = announced;
    return response;
}

// A small answer that the client inflates past the limit.
Response oversizedCompressed()
{
    const QByteArray zlib
        = qCompress(TestHttpServer::pattern(zp::PageFetcher::kMaxBodyBytes + 4096), 9);
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

INSTANTIATE_TEST_SUITE_P(PageFetcher, BrokenBodyTest,
    ::testing::Values(BrokenBodyCase { "OverLimitAnnounced", oversized(true) },
        BrokenBodyCase { "OverLimitUnannounced", oversized(false) },
        BrokenBodyCase { "OverLimitCompressed", oversizedCompressed() },
        BrokenBodyCase { "ConnectionCutMidBody", cutShort() }),
    [](const ::testing::TestParamInfo<BrokenBodyCase>& info) { return info.param.name; });

TEST_F(PageFetcherTest, BodyOfExactlyTheLimitIsAccepted)
{
    server.route("/big", Response::generated(zp::PageFetcher::kMaxBodyBytes));

    const QByteArray page = fetch(server.url(u"/big"_s), kLongTimeout);
    ASSERT_EQ(page.size(), zp::PageFetcher::kMaxBodyBytes);
    EXPECT_EQ(page.right(4096), TestHttpServer::pattern(4096, page.size() - 4096));
}

} // namespace
