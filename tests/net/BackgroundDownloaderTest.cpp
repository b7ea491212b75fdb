#include "net/BackgroundDownloader.h"

#include "support/TestHttpServer.h"
#include "util/StopFlag.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using zp::test::TestHttpServer;
using Response = TestHttpServer::Response;

namespace {

constexpr qint32 kPictureMinimum = 256;
constexpr double kPictureInterval = 0.3;

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

// Qt's own warnings while a test runs: a reply finished twice or read after
// it was closed shows here.
class QtWarnings {
public:
    QtWarnings()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&QtWarnings::record);
    }
    ~QtWarnings()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    std::string text() const { return m_messages.join(u'\n').toStdString(); }

private:
    static void record(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (s_current && type != QtDebugMsg && type != QtInfoMsg)
            s_current->m_messages.append(message);
    }
    static inline QtWarnings* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_messages;
};

// Records what the downloader tells it, and asks to stop when told to.
class RecordingObserver : public zp::DownloadObserver {
public:
    RecordingObserver() { clock.start(); }

    bool flgStop() const override
    {
        ++stopChecks;
        return stop;
    }
    void LoadProgress(qint32 bytesWritten, qint32& reserved) override
    {
        reports.append(bytesWritten);
        reportTimesNs.append(clock.nsecsElapsed());
        reservedValues.append(reserved);
        if (!watchedPath.isEmpty() && QFile::exists(watchedPath))
            sawTarget = true;
    }

    bool stop = false;
    QString watchedPath;
    bool sawTarget = false;
    mutable int stopChecks = 0;
    QList<qint32> reports;
    QList<qint64> reportTimesNs;
    QList<qint32> reservedValues;
    QElapsedTimer clock;
};

// Back-off without jitter: 0.75 s, then 1.5 s.
zp::RetryPolicy steadyPolicy(int passingRetries)
{
    return zp::RetryPolicy(passingRetries, [] { return 0.0; });
}

Response throttled(int code)
{
    Response response = Response::status(code, "Slow Down", "x");
    response.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("0")));
    return response;
}

class FileDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(folder.isValid());
        target = folder.filePath(u"picture.jpg"_s);
    }
    void TearDown() override { EXPECT_EQ(warnings.text(), ""); }

    bool download(const QString& path, zp::DownloadObserver* observer = nullptr,
        qint32 minimumSize = kPictureMinimum, double interval = kPictureInterval)
    {
        return downloader.DownloadFile(server.url(path), target, observer, minimumSize, interval);
    }
    // Without retries of passing faults.
    bool downloadOnce(const QString& path, qint32 minimumSize = kPictureMinimum)
    {
        return once.DownloadFile(server.url(path), target, nullptr, minimumSize, kPictureInterval);
    }

    // Names in the download folder other than the target: temporary files
    // that should not have stayed.
    QStringList strayFiles() const
    {
        QStringList names = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(u"picture.jpg"_s);
        return names;
    }

    QtWarnings warnings;
    TestHttpServer server;
    zp::StopFlag stop;
    zp::BackgroundDownloader downloader { stop, 1, {}, steadyPolicy(2), 5s };
    zp::BackgroundDownloader once { stop, 1, {}, steadyPolicy(0), 5s };
    QTemporaryDir folder;
    QString target;
};

TEST_F(FileDownloaderTest, BodyIsWrittenInOrderInChunksOfAtMost2024Bytes)
{
    server.route("/p/5000.jpg", Response::generated(5000, "image/jpeg"));
    RecordingObserver observer;

    // A negative interval asks for a report after every chunk.
    EXPECT_TRUE(download(u"/p/5000.jpg"_s, &observer, kPictureMinimum, -1.0));
    EXPECT_EQ(contents(target), TestHttpServer::pattern(5000));
    ASSERT_GE(observer.reports.size(), 3);
    qint32 previous = 0;
    for (const qint32 written : observer.reports) {
        EXPECT_GT(written, previous);
        EXPECT_LE(written - previous, zp::FileTransfer::kChunkBytes);
        previous = written;
    }
    EXPECT_EQ(previous, 5000);
    EXPECT_EQ(observer.reservedValues, QList<qint32>(observer.reports.size(), 0));
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
}

TEST_F(FileDownloaderTest, SendsGetWithTheAgentVbOpenUrl)
{
    server.route("/p/a.jpg", Response::generated(300));

    EXPECT_TRUE(download(u"/p/a.jpg"_s));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0).method, "GET");
    EXPECT_EQ(server.requests().at(0).userAgent, "VB OpenUrl");
}

TEST_F(FileDownloaderTest, LargeBodyArrivesWhole)
{
    constexpr qint64 kSize = 20LL * 1024 * 1024 + 17;
    server.route("/p/big.jpg", Response::generated(kSize));

    EXPECT_TRUE(download(u"/p/big.jpg"_s));
    EXPECT_EQ(contents(target), TestHttpServer::pattern(kSize));
}

TEST_F(FileDownloaderTest, RedirectIsFollowed)
{
    server.route("/p/old.jpg", Response::redirect(302, "/p/new.jpg"));
    server.route("/p/new.jpg", Response::generated(1000));

    EXPECT_TRUE(download(u"/p/old.jpg"_s));
    EXPECT_EQ(contents(target), TestHttpServer::pattern(1000));
}

// Outcomes of whole transfers: the result, and what stands under the target.
struct OutcomeCase {
    const char* name;
    Response response;
    qint32 minimumSize;
    bool expected;
    const char* reason = nullptr; // what the failure says; nullptr: not checked
};

class DownloadOutcomeTest : public FileDownloaderTest,
                            public ::testing::WithParamInterface<OutcomeCase> { };

TEST_P(DownloadOutcomeTest, ResultAndFileOnDisk)
{
    const OutcomeCase& c = GetParam();
    server.route("/p/x.jpg", c.response);

    EXPECT_EQ(downloadOnce(u"/p/x.jpg"_s, c.minimumSize), c.expected);
    if (c.expected) {
        const QByteArray body = c.response.generatedBodySize >= 0
            ? TestHttpServer::pattern(c.response.generatedBodySize)
            : c.response.body;
        EXPECT_EQ(contents(target), body);
    } else {
        EXPECT_FALSE(QFile::exists(target));
    }
    if (c.reason) {
        EXPECT_EQ(once.lastFailure(), QString::fromUtf8(c.reason));
    }
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
}

Response cutAfter(qint64 size, qint64 sent)
{
    Response response = Response::generated(size);
    response.cutAfterBodyBytes = sent;
    return response;
}

Response unannounced(qint64 size)
{
    Response response = Response::generated(size);
    response.contentLength = false;
    return response;
}

INSTANTIATE_TEST_SUITE_P(FileDownloader, DownloadOutcomeTest,
    ::testing::Values(OutcomeCase { "ExactlyMinimumSize", Response::generated(256), 256, true },
        OutcomeCase { "OneByteFewer", Response::generated(255), 256, false },
        OutcomeCase { "EmptyBody", Response::ok({}, "image/jpeg"), 256, false },
        OutcomeCase { "EmptyBodyNoMinimum", Response::ok({}, "image/jpeg"), 0, true },
        OutcomeCase { "EndedByClosingTheConnection", unannounced(7000), 256, true },
        OutcomeCase { "ConnectionCutMidBody", cutAfter(10'000, 4500), 256, false },
        OutcomeCase { "ConnectionCutBeforeBody", cutAfter(10'000, 0), 256, false },
        OutcomeCase { "NotFoundPage",
            Response::status(404, "Not Found", TestHttpServer::pattern(300)), 256, false },
        OutcomeCase { "ServerError",
            Response::status(500, "Internal Server Error", TestHttpServer::pattern(5000)), 256,
            false },
        OutcomeCase {
            "ExactlyTheCap", Response::generated(zp::FileTransfer::kMaxFileBytes), 256, true },
        OutcomeCase { "OverTheCapAnnounced",
            Response::generated(zp::FileTransfer::kMaxFileBytes + 1), 256, false, "больше 64 МБ" },
        OutcomeCase { "OverTheCapUnannounced", unannounced(zp::FileTransfer::kMaxFileBytes + 1),
            256, false, "больше 64 МБ" }),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

TEST_F(FileDownloaderTest, RedirectToAnotherHostOrPortIsNotFollowed)
{
    TestHttpServer other;
    ASSERT_TRUE(other.listen());
    other.route("/p/new.jpg", Response::generated(1000));
    server.route("/p/old.jpg", Response::redirect(302, other.url(u"/p/new.jpg"_s).toLatin1()));

    EXPECT_FALSE(download(u"/p/old.jpg"_s));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(other.requests().isEmpty());
}

TEST_F(FileDownloaderTest, RunStopEndsAnEndlessDownloadWithoutAFile)
{
    // A body that would take hours: only the stop request can end it.
    Response endless = Response::generated(1LL << 40);
    endless.pieceBytes = 4096;
    endless.pieceDelay = 5ms;
    server.route("/p/endless.jpg", endless);
    QTimer::singleShot(300ms, &stop, &zp::StopFlag::set);

    EXPECT_FALSE(downloader.DownloadFile(
        server.url(u"/p/endless.jpg"_s), target, nullptr, kPictureMinimum, kPictureInterval));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();

    // Raised before the call: nothing is fetched at all.
    const qsizetype requestsBefore = server.requests().size();
    EXPECT_FALSE(downloader.DownloadFile(
        server.url(u"/p/endless.jpg"_s), target, nullptr, kPictureMinimum, kPictureInterval));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(server.requests().size(), requestsBefore);
}

TEST_F(FileDownloaderTest, StopFromObserverAfterFirstChunkIsTrueAndLeavesNoFile)
{
    server.route("/p/x.jpg", Response::generated(100'000));
    RecordingObserver observer;
    observer.stop = true;

    EXPECT_TRUE(download(u"/p/x.jpg"_s, &observer));
    EXPECT_EQ(observer.stopChecks, 1);
    EXPECT_TRUE(observer.reports.isEmpty());
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
}

TEST_F(FileDownloaderTest, ProgressIsReportedNoMoreOftenThanTheInterval)
{
    constexpr double kInterval = 0.1;
    constexpr qint64 kIntervalNs = 100'000'000;
    // Slack for the observer reading its clock a little after the downloader.
    constexpr qint64 kSlackNs = 1'000'000;
    Response slow = Response::generated(30 * 1000);
    slow.pieceBytes = 1000;
    slow.pieceDelay = 20ms;
    server.route("/p/slow.jpg", slow);
    RecordingObserver observer;

    EXPECT_TRUE(download(u"/p/slow.jpg"_s, &observer, kPictureMinimum, kInterval));
    EXPECT_EQ(contents(target), TestHttpServer::pattern(30 * 1000));
    // 30 pieces 20 ms apart is about 0.6 s: several intervals, far fewer than
    // the chunks.
    ASSERT_GE(observer.reports.size(), 2);
    EXPECT_LT(observer.reports.size(), 30);
    EXPECT_GT(observer.reportTimesNs.at(0), kIntervalNs);
    for (qsizetype i = 1; i < observer.reportTimesNs.size(); ++i) {
        EXPECT_GT(observer.reportTimesNs.at(i) - observer.reportTimesNs.at(i - 1),
            kIntervalNs - kSlackNs);
        EXPECT_GT(observer.reports.at(i), observer.reports.at(i - 1));
    }
    EXPECT_GT(observer.stopChecks, 20);
}

TEST_F(FileDownloaderTest, TargetNeverHoldsAPartialFile)
{
    Response slow = Response::generated(10 * 1000);
    slow.pieceBytes = 1000;
    slow.pieceDelay = 5ms;
    server.route("/p/slow.jpg", slow);
    RecordingObserver observer;
    observer.watchedPath = target;

    EXPECT_TRUE(download(u"/p/slow.jpg"_s, &observer, kPictureMinimum, -1.0));
    EXPECT_GE(observer.reports.size(), 10);
    EXPECT_FALSE(observer.sawTarget);
    EXPECT_EQ(contents(target), TestHttpServer::pattern(10 * 1000));
}

// A server that fails the first requests of a picture and then serves it:
// throttling as the server asks, at least five times; passing faults twice
// more after the back-off; final failures at once.
struct RetryCase {
    const char* name;
    Response failure;
    int failures;
    bool expected;
    int requests;
};

class RetryTest : public FileDownloaderTest, public ::testing::WithParamInterface<RetryCase> { };

TEST_P(RetryTest, FailuresAreTriedAgainByTheirKind)
{
    const RetryCase& c = GetParam();
    int served = 0;
    server.route("/p/x.jpg", [&](const TestHttpServer::Request&) {
        return served++ < c.failures ? c.failure : Response::generated(3000);
    });

    EXPECT_EQ(download(u"/p/x.jpg"_s), c.expected);
    EXPECT_EQ(served, c.requests);
    EXPECT_EQ(QFile::exists(target), c.expected);
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FileDownloader, RetryTest,
    ::testing::Values(RetryCase { "TooManyRequestsFiveTimes", throttled(429), 5, true, 6 },
        RetryCase { "TooManyRequestsSixTimes", throttled(429), 6, false, 6 },
        RetryCase {
            "UnavailableWithoutRetryAfter", Response::status(503, "Busy", "x"), 1, true, 2 },
        RetryCase { "ServerErrorTwice", Response::status(500, "Error", "x"), 2, true, 3 },
        RetryCase { "ServerErrorThrice", Response::status(500, "Error", "x"), 3, false, 3 },
        RetryCase { "CutOnce", cutAfter(3000, 1000), 1, true, 2 },
        RetryCase { "NotFoundIsFinal", Response::status(404, "Not Found", "x"), 1, false, 1 },
        RetryCase { "ForbiddenIsFinal", Response::status(403, "Forbidden", "x"), 1, false, 1 }),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return info.param.name; });

// A full disk, as the file size limit makes it: the write fails part-way.
TEST_F(FileDownloaderTest, WriteThatFailsLeavesNeitherPictureNorTemporaryFile)
{
    server.route("/p/x.jpg", Response::generated(10'596));
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    const bool result = download(u"/p/x.jpg"_s);

    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(result);
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(FileDownloaderTest, LeftoversOfKilledDownloadsAreRemovedAndNothingElse)
{
    const QString leftover = zp::FileTransfer::temporaryPath(target);
    const QString olderLeftover = folder.filePath(u"ZV-1.jpg.aB3dE9"_s);
    const QString pictureWithSuffix = folder.filePath(u"ZV-2.jpg.aB3dE9"_s);
    for (const QString& path :
        { leftover, olderLeftover, target, folder.filePath(u"notes.download"_s) }) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFile withContent(pictureWithSuffix);
    ASSERT_TRUE(withContent.open(QIODevice::WriteOnly));
    ASSERT_EQ(withContent.write("picture"), 7);
    withContent.close();

    zp::FileTransfer::RemoveLeftovers(folder.path());

    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_FALSE(QFile::exists(olderLeftover));
    EXPECT_TRUE(QFile::exists(pictureWithSuffix));
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_TRUE(QFile::exists(folder.filePath(u"notes.download"_s)));
}

struct ReplaceCase {
    const char* name;
    Response response;
    bool stop;
    bool replaced;
};

class ExistingFileTest : public FileDownloaderTest,
                         public ::testing::WithParamInterface<ReplaceCase> { };

TEST_P(ExistingFileTest, ReplacedOnlyOnSuccess)
{
    const QByteArray old = QByteArray(3000, 'o');
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    const ReplaceCase& c = GetParam();
    server.route("/p/x.jpg", c.response);
    RecordingObserver observer;
    observer.stop = c.stop;

    download(u"/p/x.jpg"_s, &observer);
    EXPECT_EQ(contents(target), c.replaced ? TestHttpServer::pattern(1000) : old);
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FileDownloader, ExistingFileTest,
    ::testing::Values(ReplaceCase { "Success", Response::generated(1000), false, true },
        ReplaceCase { "ShorterThanMinimum", Response::generated(100), false, false },
        ReplaceCase { "CutMidBody", cutAfter(5000, 1000), false, false },
        ReplaceCase {
            "NotFound", Response::status(404, "Not Found", QByteArray(400, 'x')), false, false },
        ReplaceCase { "Stopped", Response::generated(5000), true, false }),
    [](const ::testing::TestParamInfo<ReplaceCase>& info) { return info.param.name; });

TEST_F(FileDownloaderTest, AddressThatCannotBeOpenedIsFalseAndCreatesNothing)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QString refused = u"http://127.0.0.1:%1/p/x.jpg"_s.arg(probe.serverPort());
    probe.close();

    for (const QString& url : { refused, u"nonsense:/x.jpg"_s }) {
        EXPECT_FALSE(once.DownloadFile(url, target, nullptr, kPictureMinimum, kPictureInterval))
            << url.toStdString();
    }
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(FileDownloaderTest, MissingTargetFolderIsFalse)
{
    server.route("/p/x.jpg", Response::generated(1000));
    target = folder.filePath(u"no-such-folder/picture.jpg"_s);

    EXPECT_FALSE(download(u"/p/x.jpg"_s));
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(FileDownloaderTest, ServerSilentForTheIdleTimeoutIsFalse)
{
    Response silent;
    silent.neverAnswer = true;
    server.route("/p/x.jpg", silent);
    zp::BackgroundDownloader impatient(stop, 1, {}, steadyPolicy(0), 300ms);

    EXPECT_FALSE(impatient.DownloadFile(
        server.url(u"/p/x.jpg"_s), target, nullptr, kPictureMinimum, kPictureInterval));
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

Response silence()
{
    Response response;
    response.neverAnswer = true;
    return response;
}

// Pictures queued in the background, as a crawl queues them.
class BackgroundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(folder.isValid());
    }
    void TearDown() override { EXPECT_EQ(warnings.text(), ""); }

    std::unique_ptr<zp::BackgroundDownloader> engine(int connections, int passingRetries = 2)
    {
        auto made = std::make_unique<zp::BackgroundDownloader>(
            stop, connections, zp::ShopAccess {}, steadyPolicy(passingRetries), 5s);
        made->setBackgroundFailureHandler(
            [this](const QString& url, const QString& reason, bool mayPass) {
                failures.append(url.mid(server.baseUrl().size()) + u' ' + reason
                    + (mayPass ? u" (may pass)"_s : QString()));
            });
        return made;
    }

    QString path(const QString& name) const { return folder.filePath(name); }

    // Answers every picture after delay and counts the requests answered
    // at once: the request is under way from its arrival until its answer.
    void serveSlowly(std::chrono::milliseconds delay, Response response)
    {
        response.delay = delay;
        server.setFallback([this, delay, response](const TestHttpServer::Request&) {
            peak = std::max(peak, ++underWay);
            QTimer::singleShot(delay, &server, [this] { --underWay; });
            return response;
        });
    }

    QtWarnings warnings;
    TestHttpServer server;
    QTemporaryDir folder;
    zp::StopFlag stop;
    QStringList failures;
    int underWay = 0;
    int peak = 0;
};

// Qt's manager opens six connections per host: more managers give more.
class ConcurrencyTest : public BackgroundTest, public ::testing::WithParamInterface<int> { };

TEST_P(ConcurrencyTest, UpToConnectionsPicturesAtOnce)
{
    const int connections = GetParam();
    serveSlowly(300ms, Response::generated(1000));
    const auto pictures = engine(connections);

    const int count = 2 * connections;
    for (int i = 0; i < count; ++i) {
        const QString name = u"p%1.jpg"_s.arg(i);
        pictures->DownloadInBackground(server.url(u"/"_s + name), path(name), kPictureMinimum, 0.3);
    }
    pictures->waitForBackground();

    EXPECT_EQ(peak, connections);
    for (int i = 0; i < count; ++i)
        EXPECT_TRUE(QFile::exists(path(u"p%1.jpg"_s.arg(i)))) << i;
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Connections, ConcurrencyTest, ::testing::Values(1, 6, 8, 16));

TEST_F(BackgroundTest, ThrottlingHalvesTheTransfersAtOnceAndNoPictureIsLost)
{
    QSet<QByteArray> answered;
    Response slow = Response::generated(1000);
    slow.delay = 200ms;
    server.setFallback([&](const TestHttpServer::Request& request) {
        if (!answered.contains(request.path)) {
            answered.insert(request.path);
            return throttled(429);
        }
        peak = std::max(peak, ++underWay);
        QTimer::singleShot(slow.delay, &server, [this] { --underWay; });
        return slow;
    });
    const auto pictures = engine(8);

    for (int i = 0; i < 8; ++i) {
        const QString name = u"p%1.jpg"_s.arg(i);
        pictures->DownloadInBackground(server.url(u"/"_s + name), path(name), kPictureMinimum, 0.3);
    }
    pictures->waitForBackground();

    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(QFile::exists(path(u"p%1.jpg"_s.arg(i)))) << i;
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
    EXPECT_LE(peak, 4);
    EXPECT_LT(pictures->hostLimit(), 8);
}

// Two products whose pictures share a name: the later address is tried only
// when the earlier one fails, whatever the connections, as one download after
// the other would.
struct SharedNameCase {
    const char* name;
    int connections;
    qint64 firstSize;
    qint64 secondSize;
    qint64 expectedSize; // 0: no file
    bool secondRequested;
    QStringList failures; // told for every address that failed
};

class SharedNameTest : public BackgroundTest,
                       public ::testing::WithParamInterface<SharedNameCase> { };

TEST_P(SharedNameTest, LaterAddressIsTriedWhenTheEarlierFails)
{
    const SharedNameCase& c = GetParam();
    Response first = Response::generated(c.firstSize);
    first.delay = 100ms;
    server.route("/r1/uusinta.png", first);
    server.route("/r2/uusinta.png", Response::generated(c.secondSize));
    const auto pictures = engine(c.connections);
    const QString target = path(u"uusinta.png"_s);

    pictures->DownloadInBackground(server.url(u"/r1/uusinta.png"_s), target, kPictureMinimum, 0.3);
    pictures->DownloadInBackground(server.url(u"/r2/uusinta.png"_s), target, kPictureMinimum, 0.3);
    pictures->waitForBackground();

    EXPECT_EQ(QFileInfo(target).size(), c.expectedSize);
    EXPECT_EQ(QFileInfo::exists(target), c.expectedSize > 0);
    const bool secondRequested = std::any_of(server.requests().begin(), server.requests().end(),
        [](const TestHttpServer::Request& r) { return r.path == "/r2/uusinta.png"; });
    EXPECT_EQ(secondRequested, c.secondRequested);
    EXPECT_EQ(failures, c.failures);
}

INSTANTIATE_TEST_SUITE_P(Pictures, SharedNameTest,
    ::testing::Values(SharedNameCase { "FirstRefusedOneConnection", 1, 100, 3000, 3000, true,
                          { u"/r1/uusinta.png меньше 256 байт"_s } },
        SharedNameCase { "FirstRefusedSixConnections", 6, 100, 3000, 3000, true,
            { u"/r1/uusinta.png меньше 256 байт"_s } },
        SharedNameCase { "FirstGoodSixConnections", 6, 1000, 3000, 1000, false, {} },
        SharedNameCase { "BothRefused", 6, 100, 100, 0, true,
            { u"/r1/uusinta.png меньше 256 байт"_s, u"/r2/uusinta.png меньше 256 байт"_s } }),
    [](const ::testing::TestParamInfo<SharedNameCase>& info) { return info.param.name; });

// A stop keeps the promise of the save that follows: the pictures under way
// and queued are finished, and waitForBackground() waits for them.
TEST_F(BackgroundTest, StopLetsThePicturesOnTheirWayFinish)
{
    serveSlowly(300ms, Response::generated(1000));
    const auto pictures = engine(2);
    for (int i = 0; i < 3; ++i) {
        const QString name = u"p%1.jpg"_s.arg(i);
        pictures->DownloadInBackground(server.url(u"/"_s + name), path(name), kPictureMinimum, 0.3);
    }
    stop.set();
    pictures->waitForBackground();

    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(QFile::exists(path(u"p%1.jpg"_s.arg(i)))) << i;
        EXPECT_FALSE(pictures->wasAbandoned(path(u"p%1.jpg"_s.arg(i)))) << i;
    }
}

// The crawl waits while 2 × connections pictures are on their way; a stop
// ends that wait, and the picture is still queued for the row being saved.
TEST_F(BackgroundTest, StopEndsTheWaitForRoomAndStillQueues)
{
    server.setFallback([](const TestHttpServer::Request&) { return silence(); });
    const auto pictures = engine(1);
    for (const QString& name : { u"a.jpg"_s, u"b.jpg"_s })
        pictures->DownloadInBackground(server.url(u"/"_s + name), path(name), kPictureMinimum, 0.3);
    QTimer::singleShot(200ms, &stop, &zp::StopFlag::set);

    pictures->DownloadInBackground(server.url(u"/c.jpg"_s), path(u"c.jpg"_s), kPictureMinimum, 0.3);

    EXPECT_TRUE(stop.isSet());
    EXPECT_TRUE(pictures->isDownloading(path(u"c.jpg"_s)));
    QTimer::singleShot(100ms, &stop, &zp::StopFlag::set);
    pictures->waitForBackground();
    EXPECT_EQ(failures.size(), 3);
}

struct StopCase {
    const char* name;
    Response answer;
    int stops; // during the wait; the first comes before it
    QString failure;
    bool abandoned; // given up unfinished, neither failed nor refused for good
};

class StopWaitTest : public BackgroundTest, public ::testing::WithParamInterface<StopCase> { };

// What waitForBackground() does not wait for after a stop: a retry the
// server asked to come ten minutes later, or (at a second stop) a transfer
// that never ends. Either fails for this run and is reported.
TEST_P(StopWaitTest, WaitEndsAndThePictureFails)
{
    const StopCase& c = GetParam();
    server.route("/p.jpg", c.answer);
    const auto pictures = engine(1);
    pictures->DownloadInBackground(server.url(u"/p.jpg"_s), path(u"p.jpg"_s), kPictureMinimum, 0.3);
    QTimer::singleShot(200ms, &stop, &zp::StopFlag::set);
    for (int i = 1; i < c.stops; ++i)
        QTimer::singleShot(200ms + i * 100ms, &stop, &zp::StopFlag::set);

    pictures->waitForBackground();

    EXPECT_FALSE(pictures->isDownloading(path(u"p.jpg"_s)));
    EXPECT_EQ(failures, QStringList { u"/p.jpg "_s + c.failure });
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
    EXPECT_EQ(pictures->wasAbandoned(path(u"p.jpg"_s)), c.abandoned);
    // The next wait is another one.
    pictures->waitForBackground();
    EXPECT_FALSE(pictures->wasAbandoned(path(u"p.jpg"_s)));
}

Response retryMuchLater()
{
    Response response = Response::status(429, "Too Many Requests", "x");
    response.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("600")));
    return response;
}

INSTANTIATE_TEST_SUITE_P(Stops, StopWaitTest,
    ::testing::Values(StopCase { "RetryWait", retryMuchLater(), 1, u"429 (may pass)"_s, false },
        StopCase { "SilentServerTwoStops", silence(), 2,
            zp::FileTransfer::CancelledReason + u" (may pass)"_s, true }),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

} // namespace
