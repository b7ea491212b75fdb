#pragma once

#include "net/Downloader.h"
#include "net/ShopAccess.h"

#include <QList>
#include <QNetworkAccessManager>
#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace zp {

class AtomicFileWriter;
class FileCommitter;
class StopFlag;

// Downloads one file over HTTP on a direct connection.
//
// DownloadFile sends a GET with the user agent "VB OpenUrl" over HTTP/1.1,
// follows redirects only within the same scheme, host and port, and copies the body in reads
// of at most kChunkBytes into a temporary file beside localPath. After every
// chunk it lets pending events run once (window events included), then asks
// the observer, if any, whether to stop and, when more than progressInterval
// seconds have passed since the transfer began or since the last report,
// reports the bytes written so far. Between chunks it waits in a local event
// loop woken by the arriving data; the reply buffers at most a few chunks, so
// memory stays flat whatever the size of the body.
//
// Result:
//  - true: the body arrived whole and holds at least minimumSize bytes; it
//    now stands under localPath, replacing any file there;
//  - true: the observer asked to stop; nothing is written under localPath
//    and an existing file there is left as it was;
//  - false: the run's stop flag (when one was given) was raised before or
//    during the transfer, which then ends at once; nothing is written;
//  - false: the body is over kMaxFileBytes (abandoned as soon as it passes);
//  - false: the address could not be opened (bad address, unknown host,
//    refused connection), the server answered with a status of 400 or above,
//    the connection failed mid-body, no data came for the idle time-out, the
//    body is shorter than minimumSize, or the local file could not be written.
//    Nothing is written under localPath and an existing file is left as it
//    was. No temporary file remains.
// Nothing is thrown.
//
// Only a body that arrived whole, every write and the flush to disk of which
// succeeded and whose size on disk is the size received, is moved under
// localPath. The flush and the move run on the committer's workers, so that
// the event loop goes on meanwhile; the folder's entry is flushed by
// flushDownloaded(), once for all the files since the last call. The temporary file is named
// ".~<name>.download" beside it; RemoveLeftovers() removes those a killed run left behind.
//
// A transfer that failed on a passing fault (time-out, connection cut or
// refused, status 5xx) is tried again after each of the retry delays, so
// twice by default; other failures are final at once.
//
// Files are fetched through the system's proxy, as pages are (ShopAccess).
//
// The observer is only borrowed for the call.
class FileDownloader final : public Downloader {
public:
    static constexpr qint64 kChunkBytes = 2024;
    static constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout { 60'000 };

    static inline const QList<std::chrono::milliseconds> kDefaultRetryDelays {
        std::chrono::milliseconds(500), std::chrono::milliseconds(2000)
    };
    static inline const QString TemporarySuffix = QStringLiteral(".download");

    // idleTimeout: a transfer during which no byte moves for this long fails.
    // stop: the run's stop request, watched during every wait; may be null.
    // retryDelays: the pauses before each new attempt after a passing fault.
    // committer: puts the files on disk; borrowed, it must outlive the
    // downloader; null: the downloader has one of its own.
    explicit FileDownloader(std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout,
        const StopFlag* stop = nullptr,
        QList<std::chrono::milliseconds> retryDelays = kDefaultRetryDelays,
        const ShopAccess& access = {}, FileCommitter* committer = nullptr);
    ~FileDownloader() override;

    bool DownloadFile(const QString& url, const QString& localPath, DownloadObserver* observer,
        qint32 minimumSize, double progressInterval) override;
    void flushDownloaded() override;
    QString lastFailure() const override { return m_lastFailure; }
    bool lastFailureMayPass() const override { return m_lastFailureMayPass; }

    // The temporary file a download to localPath writes first.
    static QString temporaryPath(const QString& localPath);
    // Removes the temporary files of downloads that were killed in folder.
    static void RemoveLeftovers(const QString& folder);

    enum class Attempt { Done, PassingFault, Failed };
    // What went wrong on this side of a transfer.
    enum class LocalFault { None, WriteFailed, TooLarge };
    struct Verdict {
        Attempt attempt;
        QString failure; // a few words, as lastFailure() gives them; empty when Done
    };
    // How a transfer that was not stopped ended, once its reply is finished
    // or aborted, with written bytes in its file. Done: the body is whole and
    // long enough, and its file is to be committed (commitTransfer).
    static Verdict finishTransfer(
        const QNetworkReply& reply, LocalFault fault, qint64 written, qint32 minimumSize);
    // Hands the file of a transfer found Done over to committer. done is told
    // Done once the file stands under its name, or the failure to write it;
    // from within this call when the file cannot even be handed over.
    static void commitTransfer(
        AtomicFileWriter& file, FileCommitter& committer, std::function<void(const Verdict&)> done);
    static QNetworkRequest fileRequest(
        const QString& url, std::chrono::milliseconds idleTimeout, const ShopAccess& access);

private:
    Attempt tryDownload(const QString& url, const QString& localPath, DownloadObserver* observer,
        qint32 minimumSize, double progressInterval);
    bool runStopped() const;
    // Commits file and waits for the outcome in an event loop.
    Verdict commitAndWait(AtomicFileWriter& file);

    std::unique_ptr<FileCommitter> m_ownCommitter;
    FileCommitter& m_committer;
    ShopAccess m_access;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::chrono::milliseconds m_idleTimeout;
    const StopFlag* m_stop;
    QList<std::chrono::milliseconds> m_retryDelays;
    QString m_lastFailure;
    bool m_lastFailureMayPass = false;
};

} // namespace zp
