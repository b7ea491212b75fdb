#pragma once

#include "net/Downloader.h"
#include "net/FileTransfer.h"
#include "net/ManagerPool.h"
#include "net/RequestPacing.h"
#include "net/RetryPolicy.h"
#include "net/ShopAccess.h"
#include "util/FileCommitter.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <list>
#include <memory>
#include <optional>
#include <vector>

class QEventLoop;
class QNetworkAccessManager;

namespace zp {

class StopFlag;

// The run's one picture engine: downloads files over HTTP (FileTransfer),
// up to `connections` at once, in the order they were asked for.
//
// DownloadInBackground queues a download and returns while it runs;
// DownloadFile is the same engine waiting for its one transfer (ahead of the
// queue), with the observer watching it. A path that is queued or under way is
// not downloaded twice: a later address for it (another product's picture of
// the same name) is remembered and tried, in the order given, only when the
// earlier ones have failed for good, as one download after another would.
//
// Every failure is judged once (ReplyVerdict) and retried by the one
// RetryPolicy: a throttled answer (429, 503, Retry-After) as the server asks,
// at least RetryPolicy::kThrottleRetries times; a passing fault (another 5xx,
// a connection dropped, reset or refused, a time-out) with the policy's
// back-off; a final one (404, a refused certificate, a body under the minimum
// size) at once. The picture host's transfers at once follow HostConcurrency:
// halved on throttling, grown back after successes. A body received whole goes
// to disk through the committer's workers while its connection serves the
// next transfer; flushDownloaded() makes the names of the files committed so
// far survive a crash. Each transfer starts on the least busy of the
// engine's managers (ManagerPool).
//
// The crawl may run at most kQueuePerConnection × connections pictures ahead:
// DownloadInBackground waits (in an event loop) while that many are pending,
// so that a save waiting for the pictures of its rows waits a few transfers
// long at most.
//
// A stop (the run's StopFlag):
//  - ends DownloadFile's transfer at once (false, nothing written) and a
//    DownloadFile asked for after it;
//  - ends every wait for a retry, and no further address is tried: that
//    picture has failed for this run (the next run fetches it for the row);
//  - leaves the transfers under way and queued to finish, since the rows that
//    name them are about to be saved; waitForBackground() waits for them.
//    A further stop during that wait abandons them (wasAbandoned() names
//    them, so that the save can leave their rows out).
// Every address that failed for good, abandoned ones included, goes to the
// failure handler with its reason, also when a later address of the same name
// is tried next: whether that one was known yet must not change what is told.
class BackgroundDownloader final : public Downloader {
public:
    static constexpr int kQueuePerConnection = 2;
    // Passing faults are tried this many times more.
    static constexpr int kPassingRetries = 2;

    BackgroundDownloader(const StopFlag& stop, int connections, const ShopAccess& access = {},
        RetryPolicy policy = RetryPolicy(kPassingRetries),
        std::chrono::milliseconds idleTimeout = ShopAccess::kTimeout);
    ~BackgroundDownloader() override;

    bool DownloadFile(const QString& url, const QString& localPath, DownloadObserver* observer,
        qint32 minimumSize, double progressInterval) override;
    bool DownloadInBackground(const QString& url, const QString& localPath, qint32 minimumSize,
        double progressInterval) override;
    void setBackgroundFailureHandler(FailureHandler handler) override;
    bool isDownloading(const QString& localPath) const override;
    void waitForBackground() override;
    bool wasAbandoned(const QString& localPath) const override;
    void flushDownloaded() override;
    QString lastFailure() const override { return m_lastFailure; }
    bool lastFailureMayPass() const override { return m_lastFailureMayPass; }

    // Transfers the host gets at once now (HostConcurrency).
    int hostLimit() const { return m_host.limit(); }
    // Spaces the transfers by pacing, shared with the run's other engines,
    // instead of a pacing of its own; pacing must outlive the downloader.
    void sharePacing(HostPacing& pacing) { m_pacing = &pacing; }

private:
    struct Job;

    Job& add(const QString& url, const QString& localPath, qint32 minimumSize, bool first);
    void startReady();
    void begin(Job& job);
    // The transfer's connection is free again.
    void release(Job& job);
    void onTransferEnd(Job& job);
    // After a failure for good of the job's address: its next address, or
    // the end of the job.
    void giveUpAddress(Job& job, const ReplyVerdict& verdict);
    void retryLater(Job& job, std::chrono::milliseconds delay);
    void finish(Job& job, bool succeeded);
    void onStop();
    // Ends the jobs for which which(job) holds: their transfers are cancelled
    // and they fail for this run.
    template <typename Which> void endJobs(Which which);
    // Runs an event loop until done() holds; every change of the jobs re-checks it.
    template <typename Done> void waitUntil(Done done);
    void wake();

    const StopFlag& m_stop;
    const int m_connections;
    const ShopAccess m_access;
    const RetryPolicy m_policy;
    const std::chrono::milliseconds m_idleTimeout;
    HostConcurrency m_host;
    HostPacing m_ownPacing;
    HostPacing* m_pacing = &m_ownPacing;
    QTimer m_paceEnd; // starts the next transfer once the pacing allows it
    FileCommitter m_committer;
    ManagerPool m_managers;
    std::list<std::shared_ptr<Job>> m_jobs; // pending, in the order asked for
    QHash<QString, Job*> m_byPath;
    int m_running = 0;
    FailureHandler m_onFailure;
    QString m_lastFailure;
    bool m_lastFailureMayPass = false;
    std::vector<QEventLoop*> m_waits;
    std::optional<int> m_stopsDuringWait; // stops while waitForBackground runs
    QSet<QString> m_abandoned; // paths the last waitForBackground gave up
    QObject m_receiver;
};

} // namespace zp
