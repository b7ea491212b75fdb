#include "net/FileDownloader.h"

#include "net/ReplyFailure.h"
#include "util/StopFlag.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <array>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// How much of the body the reply holds before it stops reading the socket.
constexpr qint64 kReplyBufferBytes = 32 * FileDownloader::kChunkBytes;

QNetworkRequest fileRequest(const QString& url, std::chrono::milliseconds idleTimeout)
{
    QNetworkRequest request { QUrl(url) };
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("VB OpenUrl"));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Only the picture server's own scheme, host and port.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(idleTimeout.count()));
    return request;
}

bool isErrorStatus(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400;
}

} // namespace

FileDownloader::FileDownloader(std::chrono::milliseconds idleTimeout, const StopFlag* stop)
    : m_idleTimeout(idleTimeout)
    , m_stop(stop)
{
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
}

bool FileDownloader::DownloadFile(const QString& url, const QString& localPath,
    DownloadObserver* observer, qint32 minimumSize, double progressInterval)
{
    m_lastFailure.clear();
    if (m_stop && m_stop->isSet())
        return false;
    const std::unique_ptr<QNetworkReply> reply(m_manager.get(fileRequest(url, m_idleTimeout)));
    reply->setReadBufferSize(kReplyBufferBytes);

    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (m_stop)
        QObject::connect(m_stop, &StopFlag::raised, &loop, &QEventLoop::quit);
    const auto runStopped = [this] { return m_stop && m_stop->isSet(); };

    // Written beside the target and moved over it only on success; dropped
    // (temporary file removed) when it goes out of scope uncommitted.
    QSaveFile file(localPath);
    std::array<char, kChunkBytes> chunk {};
    qint64 written = 0;
    bool failed = false;
    bool stopped = false;
    QElapsedTimer clock;
    double lastProgress = 0.0;

    for (;;) {
        if (runStopped()) {
            failed = true;
            break;
        }
        if (reply->bytesAvailable() == 0) {
            if (reply->isFinished())
                break;
            loop.exec();
            continue;
        }
        if (!file.isOpen()) {
            if (isErrorStatus(*reply) || !file.open(QIODevice::WriteOnly)) {
                failed = true;
                break;
            }
            clock.start();
        }
        const qint64 count = reply->read(chunk.data(), kChunkBytes);
        if (written + count > kMaxFileBytes) {
            m_lastFailure = u"больше %1 МБ"_s.arg(kMaxFileBytes / (1024 * 1024));
            failed = true;
            break;
        }
        if (count < 0 || file.write(chunk.data(), count) != count) {
            failed = true;
            break;
        }
        written += count;

        QCoreApplication::processEvents();
        if (!observer)
            continue;
        if (observer->flgStop()) {
            stopped = true;
            break;
        }
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (now > lastProgress + progressInterval) {
            lastProgress = now;
            qint32 reserved = 0;
            observer->LoadProgress(static_cast<qint32>(written), reserved);
        }
    }

    QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
    if (m_stop)
        QObject::disconnect(m_stop, nullptr, &loop, nullptr);
    if (!reply->isFinished())
        reply->abort();
    if (stopped)
        return true;
    if (reply->error() != QNetworkReply::NoError || isErrorStatus(*reply)) {
        m_lastFailure = DescribeReplyFailure(*reply);
        return false;
    }
    if (!failed && written < minimumSize) {
        m_lastFailure = u"меньше %1 байт"_s.arg(minimumSize);
        return false;
    }
    if (failed || (!file.isOpen() && !file.open(QIODevice::WriteOnly)) || !file.commit()) {
        if (m_lastFailure.isEmpty())
            m_lastFailure = u"не удалось записать файл: "_s + file.errorString();
        return false;
    }
    return true;
}

} // namespace zp
