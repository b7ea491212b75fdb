// Figures of the network access: page fetch time from loopback, the CPU a
// fetch spends waiting on a silent server, and the memory a large download
// takes. The server runs in a thread of its own so that its work does not show
// in the client's wall-clock figure; the CPU figures are of the whole process,
// server thread included (it sits idle during the silent wait).

#include "net/BackgroundDownloader.h"
#include "net/NetworkPageSource.h"
#include "net/PagePrefetcher.h"
#include "support/TestHttpServer.h"
#include "util/StopFlag.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using zp::test::TestHttpServer;

namespace {

constexpr int kWarmUpFetches = 50;
constexpr int kMeasuredFetches = 1000;
constexpr qint64 kPageBytes = 100 * 1024;
// The run's time-out of a page.
constexpr int kTimeoutSeconds = zp::ShopAccess::kTimeout.count();
constexpr int kSilentWaitSeconds = 5;
constexpr qint64 kDownloadBytes = zp::FileTransfer::kMaxFileBytes;
// A fast endless answer: far past every cap, without a Content-Length.
constexpr qint64 kEndlessBytes = 4LL * 1024 * 1024 * 1024;

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long peakRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The server, living in its own thread for the benchmark's lifetime.
class ServerThread {
public:
    ServerThread()
    {
        m_server = new TestHttpServer;
        m_server->moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            m_server,
            [this] {
                m_listening = m_server->listen();
                TestHttpServer::Response silent;
                silent.neverAnswer = true;
                m_server->route("/silent", silent);
                m_server->route(
                    "/page", TestHttpServer::Response::ok(TestHttpServer::pattern(kPageBytes)));
                m_server->route("/picture.jpg",
                    TestHttpServer::Response::generated(kDownloadBytes, "image/jpeg"));
                TestHttpServer::Response endless
                    = TestHttpServer::Response::generated(kEndlessBytes);
                endless.contentLength = false;
                m_server->route("/endless", endless);
                m_server->route("/endless.jpg", endless);
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(
            m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    bool listening() const { return m_listening; }
    QString url(const QString& target) const { return m_server->url(target); }

private:
    QThread m_thread;
    TestHttpServer* m_server = nullptr;
    bool m_listening = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    ServerThread server;
    if (!server.listening()) {
        std::fprintf(stderr, "bench_net: cannot listen on 127.0.0.1\n");
        return 1;
    }
    zp::StopFlag stop;
    zp::NetworkPageSource source(1);
    zp::PagePrefetcher fetcher(source, stop, 1, kTimeoutSeconds);
    zp::BackgroundDownloader downloader(stop, 1);

    const QString pageUrl = server.url(u"/page"_s);
    for (int i = 0; i < kWarmUpFetches; ++i) {
        if (fetcher.ReadHTML(pageUrl, QString(), kTimeoutSeconds).size() != kPageBytes) {
            std::fprintf(stderr, "bench_net: page fetch failed\n");
            return 1;
        }
    }
    std::vector<qint64> times;
    times.reserve(kMeasuredFetches);
    const double fetchCpuBefore = cpuSeconds();
    for (int i = 0; i < kMeasuredFetches; ++i) {
        QElapsedTimer clock;
        clock.start();
        const qsizetype size = fetcher.ReadHTML(pageUrl, QString(), kTimeoutSeconds).size();
        times.push_back(clock.nsecsElapsed());
        if (size != kPageBytes) {
            std::fprintf(stderr, "bench_net: page fetch failed\n");
            return 1;
        }
    }
    const double fetchCpu = cpuSeconds() - fetchCpuBefore;
    std::sort(times.begin(), times.end());
    const auto ms = [](qint64 ns) { return static_cast<double>(ns) / 1e6; };
    std::printf(
        "page fetch, %lld KiB from loopback, %d fetches:\n", kPageBytes / 1024, kMeasuredFetches);
    std::printf("  median %.3f ms   p90 %.3f ms   max %.3f ms   (target < 2 ms median)\n",
        ms(times[times.size() / 2]), ms(times[times.size() * 9 / 10]), ms(times.back()));
    std::printf("  process CPU per fetch %.3f ms\n", fetchCpu * 1000 / kMeasuredFetches);

    QElapsedTimer wall;
    wall.start();
    const double waitCpuBefore = cpuSeconds();
    const QByteArray silent
        = fetcher.ReadHTML(server.url(u"/silent"_s), QString(), kSilentWaitSeconds);
    const double waitCpu = cpuSeconds() - waitCpuBefore;
    std::printf("wait on a server that never answers, time-out %d s:\n", kSilentWaitSeconds);
    std::printf("  wall %.3f s   process CPU %.4f s   result %s   (target < 0.1 s CPU)\n",
        static_cast<double>(wall.elapsed()) / 1000, waitCpu,
        silent.isEmpty() ? "empty" : "NOT EMPTY");

    QTemporaryDir folder;
    const QString target = folder.filePath(u"picture.jpg"_s);
    const long rssBefore = peakRssKiB();
    wall.restart();
    const double downloadCpuBefore = cpuSeconds();
    const bool downloaded
        = downloader.DownloadFile(server.url(u"/picture.jpg"_s), target, nullptr, 256, 0.3);
    const double downloadSeconds = static_cast<double>(wall.elapsed()) / 1000;
    const double downloadCpu = cpuSeconds() - downloadCpuBefore;
    std::printf("download of %lld MiB in 2024-byte reads:\n", kDownloadBytes / (1024 * 1024));
    std::printf("  result %s   size %lld   wall %.2f s (%.0f MiB/s)   process CPU %.2f s\n",
        downloaded ? "true" : "false", static_cast<long long>(QFile(target).size()),
        downloadSeconds, static_cast<double>(kDownloadBytes) / (1024 * 1024) / downloadSeconds,
        downloadCpu);
    std::printf("  peak RSS before %ld KiB, after %ld KiB (growth %ld KiB)\n", rssBefore,
        peakRssKiB(), peakRssKiB() - rssBefore);

    for (const char* endless : { "/endless", "/endless.jpg" }) {
        wall.restart();
        const bool picture = QByteArray(endless).endsWith(".jpg");
        const bool result = picture
            ? downloader.DownloadFile(
                server.url(QString::fromLatin1(endless)), target, nullptr, 256, 0.3)
            : !fetcher
                   .ReadHTML(server.url(QString::fromLatin1(endless)), QString(), kTimeoutSeconds)
                   .isEmpty();
        std::printf("endless unannounced %s on loopback:\n", picture ? "picture" : "page");
        std::printf("  result %s   wall %.2f s   peak RSS %ld KiB (before the downloads %ld KiB)\n",
            result ? "true" : "false", static_cast<double>(wall.elapsed()) / 1000, peakRssKiB(),
            rssBefore);
    }
    return 0;
}
