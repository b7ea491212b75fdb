#pragma once

#include "net/Downloader.h"
#include "net/ReplyVerdict.h"
#include "net/ShopAccess.h"
#include "util/AtomicFile.h"
#include "util/FileCommitter.h"

#include <QElapsedTimer>
#include <QObject>
#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace zp {

// Who watches a transfer, and how often it hears of its progress.
struct TransferWatch {
    DownloadObserver* observer = nullptr; // borrowed for the transfer
    double progressInterval = 0.0; // seconds
};

// One GET of a file into localPath, under way on its own: the rules of one
// transfer, whoever waits for it. finished() is emitted once, when the
// outcome is known, from the event loop (a receiver may destroy the transfer):
//  - Done: the final answer was 200, its body arrived whole, holds at least
//    minimumSize bytes and now stands under localPath, replacing any file
//    there (committed on the committer's workers; received() told when the
//    body was whole and the connection free again);
//  - Stopped: the observer asked to stop; nothing is written under localPath;
//  - Failed: verdict() says why and whether it may pass (JudgeReply): an
//    answer other than 200 (its body is dropped), a connection that failed,
//    no data for idleTimeout; or, final, a body over kMaxFileBytes (abandoned
//    as soon as it passes), shorter than minimumSize, or a file that could
//    not be written. Nothing is written under localPath.
//
// The request carries the agent "VB OpenUrl" and goes through the run's
// ShopAccess (proxy, certificates, redirects within the same origin). The
// body goes in reads of at most kChunkBytes into a temporary file beside
// localPath (temporaryPath()); the reply buffers at most a few chunks, so
// memory stays flat whatever the size of the body. After every chunk the
// observer, if any, is asked whether to stop and, when more than
// progressInterval seconds have passed since the transfer began or since the
// last report, told the bytes written so far.
//
// Each reply is read only while it is open and finished or aborted once.
// cancel() or destroying the transfer aborts it without finished(); a body
// already handed to the committer is committed all the same.
class FileTransfer final : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Running, Done, Stopped, Failed };

    static constexpr qint64 kChunkBytes = 2024;
    static constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;
    static inline const QString TemporarySuffix = QStringLiteral(".download");
    // The reason of a cancelled transfer.
    static inline const QString CancelledReason = QStringLiteral("загрузка прервана");

    FileTransfer(QNetworkAccessManager& manager, FileCommitter& committer, const QString& url,
        const QString& localPath, qint32 minimumSize, std::chrono::milliseconds idleTimeout,
        const ShopAccess& access, TransferWatch watch = {});
    ~FileTransfer() override;

    Outcome outcome() const { return m_outcome; }
    // The body is whole and on its way to disk; it can no longer be cancelled.
    bool isCommitting() const { return m_committing; }
    // Why it failed; Success while running or after Done and Stopped.
    const ReplyVerdict& verdict() const { return m_verdict; }
    // Ends the transfer at once; finished() is not emitted.
    void cancel();

    // The temporary file a download to localPath writes first.
    static QString temporaryPath(const QString& localPath);
    // Removes the temporary files of downloads that were killed in folder.
    static void RemoveLeftovers(const QString& folder);

Q_SIGNALS:
    // The body arrived whole and went to the committer: the connection is free.
    void received();
    void finished();

private:
    void onData();
    void onFinished();
    bool isAnswerOk() const;
    bool watch();
    void commit();
    void fail(ReplyVerdict::Kind kind, const QString& reason);
    void end(Outcome outcome);
    void dropReply();

    std::unique_ptr<QNetworkReply> m_reply;
    FileCommitter& m_committer;
    AtomicFileWriter m_file;
    const qint32 m_minimumSize;
    const TransferWatch m_watch;
    QElapsedTimer m_clock;
    double m_lastProgress = 0.0;
    qint64 m_discarded = 0; // of an answer other than 200
    Outcome m_outcome = Outcome::Running;
    bool m_committing = false;
    ReplyVerdict m_verdict { ReplyVerdict::Kind::Success, {}, std::nullopt };
};

} // namespace zp
