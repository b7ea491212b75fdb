#include "net/PageFetcher.h"

#include "net/ReplyFailure.h"
#include "util/StopFlag.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// How much of the body the reply holds before it stops reading the socket;
// the body is gathered from it here, so a fast endless answer is cut at
// kMaxBodyBytes instead of filling memory first.
constexpr qint64 kReplyBufferBytes = 1024 * 1024;

enum class Outcome { Waiting, Body, Failed };

QNetworkRequest pageRequest(const QString& url, int timeoutSeconds)
{
    QNetworkRequest request { QUrl(url) };
    // Over HTTP/2 there is no reason phrase, and success is told by it.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Only the shop's own scheme, host and port: a redirect elsewhere fails.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    // Bounds the life of a request left to finish on its own (see below).
    request.setTransferTimeout(static_cast<int>(std::clamp<qint64>(
        qint64 { timeoutSeconds } * 1000, 1000, std::numeric_limits<int>::max())));
    return request;
}

int timerInterval(const QDeadlineTimer& deadline)
{
    return static_cast<int>(
        std::clamp<qint64>(deadline.remainingTime(), 0, std::numeric_limits<int>::max()));
}

} // namespace

PageFetcher::PageFetcher(QNetworkAccessManager& manager, const StopFlag& stop)
    : m_manager(manager)
    , m_stop(stop)
{
}

QByteArray PageFetcher::ReadHTML(const QString& url, const QString& body, int timeoutSeconds)
{
    m_lastFailure.clear();
    const QDeadlineTimer deadline(
        std::chrono::seconds(std::max(timeoutSeconds, 0)), Qt::PreciseTimer);
    const QNetworkRequest request = pageRequest(url, timeoutSeconds);
    std::unique_ptr<QNetworkReply> reply(body.isEmpty()
            ? m_manager.get(request)
            : m_manager.sendCustomRequest(request, "GET", body.toUtf8()));

    reply->setReadBufferSize(kReplyBufferBytes);

    QEventLoop loop;
    Outcome outcome = Outcome::Waiting;
    bool tooLarge = false;
    QByteArray received;

    const auto abandonIfTooLarge = [&](qint64 size) {
        if (size > kMaxBodyBytes && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        abandonIfTooLarge(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop,
        [&](qint64 received, qint64 total) { abandonIfTooLarge(std::max(received, total)); });
    // Counts what a compressed body becomes, which the progress does not.
    const auto gather = [&] {
        if (tooLarge)
            return;
        // Asks for no more than is there: QIODevice::read(n) allocates n bytes
        // first, which for the whole remaining allowance is up to 64 MiB a call.
        received += reply->read(
            std::min<qint64>(reply->bytesAvailable(), kMaxBodyBytes + 1 - received.size()));
        abandonIfTooLarge(received.size());
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, gather);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [&] {
        if (reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray() != "OK") {
            m_lastFailure = DescribeReplyFailure(*reply);
            return; // anything else is waited out
        }
        gather();
        const bool whole = reply->error() == QNetworkReply::NoError && !tooLarge;
        outcome = whole ? Outcome::Body : Outcome::Failed;
        loop.quit();
    });

    const bool singlePoll = m_stop.isSet() || deadline.hasExpired();
    if (singlePoll) {
        QCoreApplication::processEvents();
    } else {
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            if (deadline.hasExpired())
                loop.quit();
            else
                timer.start(timerInterval(deadline));
        });
        QObject::connect(&m_stop, &StopFlag::raised, &loop, &QEventLoop::quit);
        timer.start(timerInterval(deadline));
        loop.exec();
    }

    QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
    if (outcome == Outcome::Body)
        return received;
    if (outcome == Outcome::Failed)
        m_lastFailure = tooLarge ? u"больше %1 МБ"_s.arg(kMaxBodyBytes / (1024 * 1024))
                                 : DescribeReplyFailure(*reply);
    else if (m_lastFailure.isEmpty())
        m_lastFailure = u"нет ответа за %1 с"_s.arg(timeoutSeconds);
    if (singlePoll && !reply->isFinished()) {
        // One pass of events does not get the request onto the wire; it is
        // still sent, and left to end by itself.
        QNetworkReply* detached = reply.release();
        QObject::connect(detached, &QNetworkReply::readyRead, detached,
            [detached] { detached->skip(detached->bytesAvailable()); });
        QObject::connect(detached, &QNetworkReply::finished, detached, &QObject::deleteLater);
        return {};
    }
    reply->abort();
    return {};
}

} // namespace zp
