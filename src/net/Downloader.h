#pragma once

#include <QString>

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

    // Why the last DownloadFile gave false, in a few words ("404", "меньше
    // 256 байт"); empty after success or when the downloader does not say.
    virtual QString lastFailure() const { return {}; }
};

} // namespace zp
