#include "net/ReplyVerdict.h"

#include <QLocale>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

bool isPassingError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out aborts the reply
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::UnknownProxyError:
        return true;
    default:
        return false;
    }
}

QString hostOf(const QNetworkReply& reply)
{
    const QUrl url = reply.request().url();
    return url.port() > 0 ? u"%1:%2"_s.arg(url.host()).arg(url.port()) : url.host();
}

// The proxy the system names for the reply's address, as host:port.
QString proxyOf(const QNetworkReply& reply)
{
    const QList<QNetworkProxy> proxies
        = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(reply.request().url()));
    for (const QNetworkProxy& proxy : proxies) {
        if (proxy.type() != QNetworkProxy::NoProxy)
            return u"%1:%2"_s.arg(proxy.hostName()).arg(proxy.port());
    }
    return u"?"_s;
}

// Why the reply gave no usable body, in a few words for a log line: the
// host with the reason of a refused certificate, what a proxy that wants a
// name and password needs, the HTTP status for an error status ("404"), Qt's
// error text for another network failure, otherwise the status and its reason
// phrase ("200 ok").
QString describe(const QNetworkReply& reply)
{
    switch (reply.error()) {
    case QNetworkReply::SslHandshakeFailedError:
        return u"%1: %2"_s.arg(hostOf(reply), reply.errorString());
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return u"прокси-сервер %1 требует имя и пароль (407): укажите их в его адресе, "
               u"http://имя:пароль@%1"_s.arg(proxyOf(reply));
    default:
        break;
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400)
        return QString::number(status.toInt());
    if (reply.error() != QNetworkReply::NoError || !status.isValid())
        return reply.errorString();
    return u"%1 %2"_s.arg(status.toInt())
        .arg(QString::fromLatin1(
            reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray()));
}

std::optional<QDateTime> parseHttpDate(const QString& text)
{
    // RFC 9110's three forms, weekday dropped: "Tue, 08 Dec 2026 10:00:30 GMT",
    // "Tuesday, 08-Dec-26 10:00:30 GMT" and asctime's "Tue Dec  8 10:00:30 2026".
    const QString simple = text.simplified();
    const qsizetype comma = simple.indexOf(u',');
    const QString rest
        = comma >= 0 ? simple.mid(comma + 1).trimmed() : simple.mid(simple.indexOf(u' ') + 1);
    static const QString forms[] = { u"dd MMM yyyy HH:mm:ss 'GMT'"_s, u"dd-MMM-yy HH:mm:ss 'GMT'"_s,
        u"MMM d HH:mm:ss yyyy"_s };
    const QLocale c = QLocale::c();
    for (const QString& form : forms) {
        QDateTime date = c.toDateTime(rest, form);
        if (!date.isValid())
            continue;
        if (date.date().year() < 1970) // two digits of a year read as 19yy
            date = date.addYears(100);
        date.setTimeSpec(Qt::UTC);
        return date;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::chrono::milliseconds> ParseRetryAfter(
    const QByteArray& value, const QDateTime& now)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    using std::chrono::milliseconds;
    bool isNumber = false;
    const qulonglong seconds = trimmed.toULongLong(&isNumber);
    if (isNumber) {
        const qulonglong cap = kMaxRetryAfter.count() / 1000;
        return milliseconds(std::min(seconds, cap) * 1000);
    }
    const std::optional<QDateTime> date = parseHttpDate(QString::fromLatin1(trimmed));
    if (!date)
        return std::nullopt;
    const qint64 wait = now.msecsTo(*date);
    return milliseconds(std::clamp<qint64>(wait, 0, kMaxRetryAfter.count()));
}

ReplyVerdict TooLargeVerdict(qint64 limitBytes)
{
    return { ReplyVerdict::Kind::Final, u"больше %1 МБ"_s.arg(limitBytes / (1024 * 1024)),
        std::nullopt };
}

ReplyVerdict JudgeReply(const QNetworkReply& reply, const QDateTime& now)
{
    const QVariant statusAttribute = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.toInt();
    if (status == 200 && reply.error() == QNetworkReply::NoError)
        return { ReplyVerdict::Kind::Success, {}, std::nullopt };

    ReplyVerdict verdict;
    verdict.reason = describe(reply);
    if (statusAttribute.isValid()) {
        const QByteArray retryAfter = reply.rawHeader("Retry-After");
        verdict.retryAfter = ParseRetryAfter(retryAfter, now);
        if (status == 429 || status == 503 || verdict.retryAfter)
            verdict.kind = ReplyVerdict::Kind::Throttled;
        else if (status >= 500)
            verdict.kind = ReplyVerdict::Kind::Passing;
        else if (status >= 400 || reply.error() == QNetworkReply::NoError)
            verdict.kind = ReplyVerdict::Kind::Final;
        else
            // A status line came, then the connection broke (mid-body).
            verdict.kind = isPassingError(reply.error()) ? ReplyVerdict::Kind::Passing
                                                         : ReplyVerdict::Kind::Final;
        return verdict;
    }
    verdict.kind
        = isPassingError(reply.error()) ? ReplyVerdict::Kind::Passing : ReplyVerdict::Kind::Final;
    return verdict;
}

} // namespace zp
