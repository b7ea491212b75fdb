#pragma once

#include "net/Downloader.h"

#include <QByteArray>
#include <QFile>
#include <QList>
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
        if (m_body.size() < minimumSize)
            return false;
        QFile file(localPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        return file.write(m_body) == m_body.size();
    }

    const QList<Call>& calls() const { return m_calls; }

private:
    QByteArray m_body;
    QList<Call> m_calls;
};

} // namespace zp::test
