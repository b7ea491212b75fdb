#pragma once

#include "net/PendingPage.h"
#include "net/ShopAccess.h"

#include <QDeadlineTimer>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <memory>

class QNetworkAccessManager;

namespace zp {

// One GET for a catalogue page, under way on its own; the page engine
// (PagePrefetcher) waits for it. finished() is emitted once, when the
// outcome is known:
//  - Body: the final response's status was 200 (whatever its reason phrase)
//    and its body arrived whole (at most kMaxBodyBytes);
//  - Failed: any other answer, told at once and judged by JudgeReply
//    (verdict()): an error status, a connection closed, reset or refused, an
//    unknown host, a certificate or TLS handshake refused, a 200 whose body
//    could not be had whole;
//  - TimedOut: timeoutSeconds passed since the request was sent without an
//    answer (silence).
// Redirects are followed only within the same scheme, host and port; the
// body is gathered as it comes, so an endless answer is cut at kMaxBodyBytes.
// Destroying or abandoning the request aborts it.
class PageRequest final : public PendingPage {
public:
    enum class Outcome { Waiting, Body, Failed, TimedOut };

    static constexpr qint64 kMaxBodyBytes = 64LL * 1024 * 1024;

    PageRequest(QNetworkAccessManager& manager, const QString& url, const QString& body,
        int timeoutSeconds, const ShopAccess& access = {});
    ~PageRequest() override;

    Outcome outcome() const { return m_outcome; }
    bool isDone() const override { return m_outcome != Outcome::Waiting; }
    QByteArray takeBody() override;
    QString failure() const override { return m_verdict.reason; }
    ReplyVerdict verdict() const override { return m_verdict; }
    void abandon() override;
    qint64 heldBytes() const override { return m_received.size() + m_body.size(); }
    // Leaves the transfer to end on its own (bounded by its time-out) and
    // the object to delete itself then; for a request sent while a stop was
    // already asked for, whose answer nobody reads.
    void detach();

private:
    void onFinished();
    void abandonIfTooLarge(qint64 size);
    void gather();
    void finish(Outcome outcome);

    std::unique_ptr<QNetworkReply> m_reply;
    QPointer<QNetworkReply> m_replyAlive;
    QDeadlineTimer m_deadline;
    QTimer m_timer;
    Outcome m_outcome = Outcome::Waiting;
    QByteArray m_body;
    QByteArray m_received;
    ReplyVerdict m_verdict { ReplyVerdict::Kind::Success, {}, std::nullopt };
    int m_timeoutSeconds = 0;
    bool m_tooLarge = false;
};

} // namespace zp
