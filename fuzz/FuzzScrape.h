#pragma once

// A crawl's surroundings in memory for the scrape targets: the fakes of the
// crawler tests (sheet, view, clock) plus a downloader that only records and
// checks where pictures would go, and dialogs that decline every retry.

#include "FakeClock.h"
#include "FakeRunView.h"
#include "FakeSheet.h"
#include "net/Downloader.h"
#include "run/Dialogs.h"
#include "run/RunState.h"
#include "scrape/ScrapeContext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdlib>

namespace zp::fuzz {

inline const QString BaseUrl = QStringLiteral("http://127.0.0.1:8080");
inline const QString ImageBaseUrl = QStringLiteral("http://127.0.0.1:8080/picture");
inline const QString ProgramFolder = QStringLiteral("/nonexistent/zp-fuzz");

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// True when url is on the shop's own scheme, host and port.
inline bool isShopAddress(const QString& url)
{
    const QUrl base(BaseUrl);
    const QUrl address(url);
    return address.scheme() == base.scheme() && address.host() == base.host()
        && address.port() == base.port();
}

// Every picture lies directly inside Images/ and comes from the shop's host.
class CheckingDownloader final : public Downloader {
public:
    bool DownloadFile(
        const QString& url, const QString& localPath, DownloadObserver*, qint32, double) override
    {
        const QFileInfo file(localPath);
        require(QDir::cleanPath(file.absolutePath())
            == QDir(ProgramFolder).filePath(QStringLiteral("Images")));
        require(isShopAddress(url));
        return false;
    }
};

class DecliningDialogs final : public Dialogs {
public:
    MessageAnswer show(MessageStyle style, const QString&) override
    {
        return style == MessageStyle::RetryPrompt || style == MessageStyle::StopQuestion
            ? MessageAnswer::No
            : MessageAnswer::Ok;
    }
};

// One crawl's worth of services around a page reader.
struct ScrapeWorld {
    explicit ScrapeWorld(PageReader& pages)
        : context { state, sheet, view, dialogs, pages, downloader, clock, BaseUrl, ImageBaseUrl,
            ProgramFolder }
    {
        state.NextRow = 2;
        state.FixedColumnCount = 14;
        state.StartTime = QDateTime::fromSecsSinceEpoch(0);
        clock.set(state.StartTime);
    }

    RunState state;
    test::FakeSheet sheet;
    test::FakeRunView view;
    DecliningDialogs dialogs;
    CheckingDownloader downloader;
    test::FakeClock clock;
    ScrapeContext context;
};

} // namespace zp::fuzz

// Qt's event functions want an application object. This header is included
// by one source file per target, which makes this the target's own hook.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int argc = 1;
    static char name[] = "zp-fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
    return 0;
}
