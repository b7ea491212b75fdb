#pragma once

#include "net/Downloader.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <utility>

namespace zp::test {

// Downloads by writing a fixed body to the local path (when the body reaches
// the minimum size, as the real downloader keeps only such files) and
// records every call.
class FakeDownloader : public Downloader {
public:
    struct Call {
        QString url;
        QString localPath;
        DownloadObserver* observer;
        qint32 minimumSize;
        double progressInterval;
    };

    explicit FakeDownloader(QByteArray body = QByteArray(300, 'p'))
        : m_body(std::move(body))
    {
    }

    bool DownloadFile(const QString& url, const QString& localPath, DownloadObserver* observer,
        qint32 minimumSize, double progressInterval) override
    {
        m_calls.append({ url, localPath, observer, minimumSize, progressInterval });
        if (!m_failure.isEmpty())
            return false;
        return writeFile(localPath, minimumSize);
    }

    // Every download fails from now on, for reason.
    void failWith(const QString& reason, bool mayPass)
    {
        m_failure = reason;
        m_mayPass = mayPass;
    }
    QString lastFailure() const override { return m_failure; }
    bool lastFailureMayPass() const override { return m_mayPass; }

    // In the background, downloads only queue; waitForBackground() makes them.
    void setBackground(bool background) { m_background = background; }
    bool DownloadInBackground(const QString& url, const QString& localPath, qint32 minimumSize,
        double progressInterval) override
    {
        if (!m_background)
            return Downloader::DownloadInBackground(url, localPath, minimumSize, progressInterval);
        m_calls.append({ url, localPath, nullptr, minimumSize, progressInterval });
        m_pending.append(m_calls.size() - 1);
        return true;
    }
    bool isDownloading(const QString& localPath) const override
    {
        return std::any_of(m_pending.begin(), m_pending.end(),
            [&](qsizetype i) { return m_calls[i].localPath == localPath; });
    }
    // The next waits give up the downloads to these paths, as a second stop
    // during the wait would, instead of making them.
    void abandonOnWait(const QStringList& localPaths) { m_toAbandon = localPaths; }
    void waitForBackground() override
    {
        ++m_waits;
        m_abandoned.clear();
        for (qsizetype i : std::exchange(m_pending, {})) {
            if (m_toAbandon.contains(m_calls[i].localPath))
                m_abandoned.append(m_calls[i].localPath);
            else
                writeFile(m_calls[i].localPath, m_calls[i].minimumSize);
        }
    }
    bool wasAbandoned(const QString& localPath) const override
    {
        return m_abandoned.contains(localPath);
    }
    int waits() const { return m_waits; }
    void flushDownloaded() override { ++m_flushes; }
    int flushes() const { return m_flushes; }

    const QList<Call>& calls() const { return m_calls; }

private:
    bool writeFile(const QString& localPath, qint32 minimumSize)
    {
        if (m_body.size() < minimumSize)
            return false;
        QFile file(localPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        return file.write(m_body) == m_body.size();
    }

    QByteArray m_body;
    QList<Call> m_calls;
    QList<qsizetype> m_pending;
    QStringList m_toAbandon;
    QStringList m_abandoned;
    bool m_background = false;
    QString m_failure;
    bool m_mayPass = false;
    int m_waits = 0;
    int m_flushes = 0;
};

} // namespace zp::test
