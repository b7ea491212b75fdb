#include "net/PageRequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>
#include <chrono>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// How much of the body the reply holds before it stops reading the socket;
// the body is gathered from it here, so a fast endless answer is cut at
// kMaxBodyBytes instead of filling memory first.
constexpr qint64 kReplyBufferBytes = 1024 * 1024;

// The transfer time-out bounds the life of a detached request. Qt runs it
// on a coarse timer, which may fire 5 % early: the margin leaves the end of
// a silent wait to the request's own deadline.
std::chrono::milliseconds transferTimeout(int timeoutSeconds)
{
    return std::chrono::milliseconds(std::clamp<qint64>(
        qint64 { timeoutSeconds } * 1100 + 1000, 1000, std::numeric_limits<int>::max()));
}

int timerInterval(const QDeadlineTimer& deadline)
{
    return static_cast<int>(
        std::clamp<qint64>(deadline.remainingTime(), 0, std::numeric_limits<int>::max()));
}

} // namespace

PageRequest::PageRequest(QNetworkAccessManager& manager, const QString& url, const QString& body,
    int timeoutSeconds, const ShopAccess& access)
    : m_deadline(std::chrono::seconds(std::max(timeoutSeconds, 0)), Qt::PreciseTimer)
    , m_timeoutSeconds(timeoutSeconds)
{
    const QNetworkRequest request = access.request(url, transferTimeout(timeoutSeconds));
    m_reply.reset(body.isEmpty() ? manager.get(request)
                                 : manager.sendCustomRequest(request, "GET", body.toUtf8()));

    m_replyAlive = m_reply.get();
    m_reply->setReadBufferSize(kReplyBufferBytes);
    connect(m_reply.get(), &QNetworkReply::metaDataChanged, this, [this] {
        const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        abandonIfTooLarge(announced);
        // Growing by appends would leave up to twice the body allocated.
        if (!m_tooLarge && announced > m_received.size())
            m_received.reserve(announced);
    });
    connect(m_reply.get(), &QNetworkReply::downloadProgress, this,
        [this](qint64 received, qint64 total) { abandonIfTooLarge(std::max(received, total)); });
    // Counts what a compressed body becomes, which the progress does not.
    connect(m_reply.get(), &QNetworkReply::readyRead, this, &PageRequest::gather);
    connect(m_reply.get(), &QNetworkReply::finished, this, &PageRequest::onFinished);

    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_deadline.hasExpired())
            finish(Outcome::TimedOut);
        else
            m_timer.start(timerInterval(m_deadline));
    });
    m_timer.start(timerInterval(m_deadline));
}

PageRequest::~PageRequest()
{
    if (!m_replyAlive) // its manager went first and took it along
        (void)m_reply.release();
    if (m_reply) {
        m_reply->disconnect(this);
        if (!m_reply->isFinished())
            m_reply->abort();
    }
}

QByteArray PageRequest::takeBody()
{
    return std::exchange(m_body, QByteArray());
}

void PageRequest::abandon()
{
    m_timer.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        if (!m_reply->isFinished())
            m_reply->abort();
    }
}

void PageRequest::detach()
{
    m_timer.stop();
    if (!m_reply) {
        deleteLater();
        return;
    }
    m_reply->disconnect(this);
    // Goes with the reply, which its manager deletes at the latest.
    QNetworkReply* reply = m_reply.release();
    setParent(reply);
    if (reply->isFinished()) {
        reply->deleteLater();
        return;
    }
    connect(
        reply, &QNetworkReply::readyRead, reply, [reply] { reply->skip(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void PageRequest::abandonIfTooLarge(qint64 size)
{
    if (size > kMaxBodyBytes && !m_tooLarge) {
        m_tooLarge = true;
        m_reply->abort();
    }
}

void PageRequest::gather()
{
    if (m_tooLarge)
        return;
    // Asks for no more than is there: QIODevice::read(n) allocates n bytes
    // first, which for the whole remaining allowance is up to 64 MiB a call.
    m_received += m_reply->read(
        std::min<qint64>(m_reply->bytesAvailable(), kMaxBodyBytes + 1 - m_received.size()));
    abandonIfTooLarge(m_received.size());
    if (!m_tooLarge)
        Q_EMIT grew();
}

void PageRequest::onFinished()
{
    if (m_outcome != Outcome::Waiting)
        return;
    if (m_tooLarge) {
        m_verdict = TooLargeVerdict(kMaxBodyBytes);
        finish(Outcome::Failed);
        return;
    }
    m_verdict = JudgeReply(*m_reply, QDateTime::currentDateTimeUtc());
    if (m_verdict.kind != ReplyVerdict::Kind::Success) {
        finish(Outcome::Failed);
        return;
    }
    gather();
    m_body = std::exchange(m_received, QByteArray());
    m_body.squeeze();
    finish(Outcome::Body);
}

void PageRequest::finish(Outcome outcome)
{
    if (m_outcome != Outcome::Waiting)
        return;
    m_outcome = outcome;
    m_timer.stop();
    if (outcome == Outcome::TimedOut)
        m_verdict = { ReplyVerdict::Kind::Passing, u"нет ответа за %1 с"_s.arg(m_timeoutSeconds),
            std::nullopt };
    if (outcome == Outcome::TimedOut && !m_reply->isFinished())
        m_reply->abort();
    Q_EMIT finished();
}

} // namespace zp
