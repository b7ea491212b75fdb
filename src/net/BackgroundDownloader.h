#pragma once

#include "net/FileDownloader.h"
#include "util/FileCommitter.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <deque>
#include <memory>
#include <vector>

namespace zp {

class StopFlag;
class AtomicFileWriter;

// A FileDownloader that can also run downloads in the background, up to
// `connections` at once, while the caller goes on; the others wait in a
// queue in the order they were asked for. Each background download keeps
// the rules of DownloadFile: the file appears under its name whole or not at
// all, passing faults are tried again after the retry delays, a body of
// fewer than minimumSize bytes or an error status is a failure. A path that
// is queued or under way is not queued twice.
//
// A file received whole goes to disk through the committer's workers; its
// connection serves the next transfer meanwhile, and its path counts as
// under way until it stands under its name.
//
// A stop abandons every background download at once; their temporary files
// are removed. Files already received are still committed, and
// flushDownloaded() waits for them. waitForBackground() waits in an event
// loop woken by the transfers, the commits, their retry timers and the stop
// flag.
class BackgroundDownloader final : public Downloader {
public:
    BackgroundDownloader(const StopFlag& stop, int connections,
        std::chrono::milliseconds idleTimeout = FileDownloader::kDefaultIdleTimeout,
        QList<std::chrono::milliseconds> retryDelays = FileDownloader::kDefaultRetryDelays,
        const ShopAccess& access = {});
    ~BackgroundDownloader() override;

    bool DownloadFile(const QString& url, const QString& localPath, DownloadObserver* observer,
        qint32 minimumSize, double progressInterval) override;
    bool DownloadInBackground(const QString& url, const QString& localPath, qint32 minimumSize,
        double progressInterval) override;
    void setBackgroundFailureHandler(FailureHandler handler) override;
    bool isDownloading(const QString& localPath) const override;
    void waitForBackground() override;
    void flushDownloaded() override;

private:
    struct Transfer;

    void startQueued();
    void begin(Transfer& transfer);
    void onData(Transfer& transfer);
    void onFinished(Transfer& transfer);
    void commit(Transfer& transfer);
    void committed(const QString& url, const QString& path, const FileDownloader::Verdict& verdict);
    bool idle() const;
    void end(Transfer& transfer);
    void abandonAll();
    void retryOrEnd(Transfer& transfer, const FileDownloader::Verdict& verdict);

    FileCommitter m_committer; // of the files of this downloader and of m_direct
    FileDownloader m_direct;
    ShopAccess m_access;
    // its own, so that pages and pictures do not queue behind each other
    std::unique_ptr<QNetworkAccessManager> m_manager;
    const StopFlag& m_stop;
    const int m_connections;
    const std::chrono::milliseconds m_idleTimeout;
    const QList<std::chrono::milliseconds> m_retryDelays;
    std::deque<std::unique_ptr<Transfer>> m_queued;
    std::vector<std::unique_ptr<Transfer>> m_running;
    QSet<QString> m_paths; // queued or under way
    QSet<QString> m_committing; // received, on their way to disk
    FailureHandler m_onFailure;
    QObject m_receiver;
    QEventLoop* m_waiting = nullptr;
};

} // namespace zp
