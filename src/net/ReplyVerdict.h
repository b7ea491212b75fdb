#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <chrono>
#include <optional>

class QNetworkReply;

namespace zp {

// How a finished reply is judged, the same for pages and pictures:
//  - Success: status 200 and no network error, whatever the reason phrase;
//    whether the body is whole and large enough is the caller's to check;
//  - Throttled: the server asks us to slow down: 429 or 503, or any answer
//    that is not a success and carries Retry-After;
//  - Passing: a fault that may be gone a moment later: another 5xx, a
//    connection closed, reset or refused, a time-out;
//  - Final: waiting changes nothing: another status, a certificate or TLS
//    handshake the program does not accept, an unknown host, a proxy that
//    wants credentials, a malformed address.
struct ReplyVerdict {
    enum class Kind { Success, Throttled, Passing, Final };

    Kind kind = Kind::Final;
    QString reason; // a few words for a log line ("404", "host: TLS …"); empty on success
    std::optional<std::chrono::milliseconds> retryAfter; // as the server asked, capped

    bool mayPass() const { return kind == Kind::Throttled || kind == Kind::Passing; }
};

// The longest wait a server's Retry-After is taken for.
inline constexpr std::chrono::milliseconds kMaxRetryAfter = std::chrono::minutes(10);

// The verdict on a body refused for being over limitBytes: final, since the
// same address gives the same body again.
ReplyVerdict TooLargeVerdict(qint64 limitBytes);

// now: the present moment, for a Retry-After given as an HTTP date.
ReplyVerdict JudgeReply(const QNetworkReply& reply, const QDateTime& now);

// A Retry-After value (delay-seconds or an HTTP date) as a wait from now,
// at most kMaxRetryAfter and never negative; nothing when it is malformed.
std::optional<std::chrono::milliseconds> ParseRetryAfter(
    const QByteArray& value, const QDateTime& now);

} // namespace zp
