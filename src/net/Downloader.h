#pragma once

#include <QString>
#include <functional>

namespace zp {

// Watches a download: may stop it and receives progress reports.
class DownloadObserver {
public:
    virtual ~DownloadObserver() = default;
    // Read after every chunk; true stops the transfer.
    virtual bool flgStop() const = 0;
    // Bytes written so far; reserved always holds 0 and is not read back.
    virtual void LoadProgress(qint32 bytesWritten, qint32& reserved) = 0;
};

// Copies the body of an HTTP resource into a local file.
class Downloader {
public:
    virtual ~Downloader() = default;

    // True when the body was received completely and is at least minimumSize
    // bytes, or when the observer stopped the transfer; false otherwise.
    // localPath holds the complete body only when the result is true and the
    // transfer was not stopped; otherwise nothing is left under localPath.
    virtual bool DownloadFile(const QString& url, const QString& localPath,
        DownloadObserver* observer, qint32 minimumSize, double progressInterval)
        = 0;

    // Downloads as DownloadFile without an observer does, but may return
    // before the download is over and let it run while the caller goes on
    // (and may wait first while too many are on their way); false when the
    // download failed already (lastFailure says why). A download to a path
    // already on its way keeps url as the address to try should the earlier
    // one fail. This one downloads at once.
    virtual bool DownloadInBackground(
        const QString& url, const QString& localPath, qint32 minimumSize, double progressInterval)
    {
        return DownloadFile(url, localPath, nullptr, minimumSize, progressInterval);
    }
    // mayPass: the failure may be gone at a later try (a time-out, a dropped
    // connection, an HTTP status of 500 or more), unlike a refusal (404, a
    // file too small).
    using FailureHandler
        = std::function<void(const QString& url, const QString& reason, bool mayPass)>;
    // Told of every background download that failed for good, as it ends;
    // reason in the words of lastFailure().
    virtual void setBackgroundFailureHandler(FailureHandler handler) { Q_UNUSED(handler); }
    // True while a background download to localPath is queued or under way.
    virtual bool isDownloading(const QString& localPath) const
    {
        Q_UNUSED(localPath);
        return false;
    }
    // Returns when every background download is over (done or failed), or
    // when a stop during the wait (a second one, if the run was stopped
    // already) abandoned them.
    virtual void waitForBackground() { }
    // True when a stop cut the last waitForBackground() short and gave up
    // the download to localPath before it was over: the file is not there,
    // yet it neither failed nor was refused for good.
    virtual bool wasAbandoned(const QString& localPath) const
    {
        Q_UNUSED(localPath);
        return false;
    }
    // Returns when every file downloaded so far is on disk under its name,
    // there to stay whatever happens to the machine next: waits for the
    // flushes still under way and flushes the folders of the files. Call it
    // before a save names them.
    virtual void flushDownloaded() { }
    // Why the last DownloadFile gave false, in a few words ("404", "меньше
    // 256 байт"); empty after success or when the downloader does not say.
    virtual QString lastFailure() const { return {}; }
    // Whether the last DownloadFile's failure may pass (see FailureHandler).
    virtual bool lastFailureMayPass() const { return false; }
};

} // namespace zp
