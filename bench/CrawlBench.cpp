// Crawl throughput: one whole run of the run controller against a catalogue
// served on loopback (scripts/bench-crawl starts the demo shop), with real
// HTTP, real pictures and the real workbook. Prints products per second and
// the process CPU time of the run, and how many pictures were saved.
//
//   bench_crawl CATALOG_BASE_URL IMAGE_BASE_URL [CONNECTIONS]
//
// Without CONNECTIONS the run uses the program's default. ZP_BENCH_CA names a
// certificate authority to trust besides the system's (a test server's);
// ZP_BENCH_HTTP2=1 lets the run use HTTP/2 where the server offers it.

#include "run/Dialogs.h"
#include "run/RunState.h"
#include "run/RunView.h"
#include "scrape/ProductExtractor.h"
#include "session/RunSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class QuietView final : public zp::RunView {
public:
    void setButtonCaption(const QString&) override { }
    void setStatusText(const QString&) override { }
    void setElapsedText(const QString&) override { }
    QString counterText() const override { return m_counter; }
    void setCounterText(const QString& text) override { m_counter = text; }

private:
    QString m_counter;
};

// Answers OK to every report and No to every question (a retry on a dead shop
// would otherwise never end), and keeps the last text.
class DefaultAnswers final : public zp::Dialogs {
public:
    zp::MessageAnswer show(zp::MessageStyle style, const QString& text) override
    {
        last = text;
        if (style != zp::MessageStyle::Failure && style != zp::MessageStyle::Report)
            ++questions;
        return style == zp::MessageStyle::Failure || style == zp::MessageStyle::Report
            ? zp::MessageAnswer::Ok
            : zp::MessageAnswer::No;
    }
    QString last;
    int questions = 0;
};

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: bench_crawl CATALOG_BASE_URL IMAGE_BASE_URL [CONNECTIONS]\n");
        return 2;
    }
    QTemporaryDir folder;
    // A workbook to start from instead of none (scripts/bench-memory).
    const QString startWorkbook = qEnvironmentVariable("ZP_BENCH_WORKBOOK");
    if (!startWorkbook.isEmpty()
        && !QFile::copy(startWorkbook, QDir(folder.path()).filePath(u"Zavrinello.xlsx"_s))) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(startWorkbook));
        return 2;
    }
    zp::RunState state;
    QuietView view;
    DefaultAnswers dialogs;
    const int connections = args.size() > 3 ? args.at(3).toInt() : zp::RunSettings {}.connections;
    zp::RunSettings settings { args.at(1), args.at(2), folder.path(), connections };
    const QString ca = qEnvironmentVariable("ZP_BENCH_CA");
    if (!ca.isEmpty())
        settings.access.extraCaCertificates = QSslCertificate::fromPath(ca);
    settings.access.allowHttp2 = qEnvironmentVariable("ZP_BENCH_HTTP2") == u"1"_s;
    zp::RunSession session(
        state, view, dialogs, settings, zp::Answerer::Nobody, [](const QString&) {});

    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    session.Command1_Click();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = processCpuSeconds() - cpuBefore;

    if (session.lastOutcome() != zp::RunOutcome::Completed) {
        std::fprintf(stderr, "run did not complete: %s\n", dialogs.last.toLocal8Bit().constData());
        return 1;
    }
    const qsizetype pictures
        = QDir(QDir(folder.path()).filePath(zp::ProductExtractor::ImagesFolder))
              .entryList(QDir::Files)
              .size();
    std::printf("products %d  pictures %lld  connections %d  wall %.2f s  %.1f products/s  "
                "process CPU %.2f s (%.1f%% of wall)  questions %d\n",
        state.NewCount, static_cast<long long>(pictures), connections, seconds,
        state.NewCount / seconds, cpu, 100.0 * cpu / seconds, dialogs.questions);
    return 0;
}
