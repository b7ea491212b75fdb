#include "net/ReplyFailure.h"

#include <QNetworkReply>

using namespace Qt::Literals::StringLiterals;

namespace zp {

QString DescribeReplyFailure(const QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400)
        return QString::number(status.toInt());
    if (reply.error() != QNetworkReply::NoError || !status.isValid())
        return reply.errorString();
    return u"%1 %2"_s.arg(status.toInt())
        .arg(QString::fromLatin1(
            reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray()));
}

} // namespace zp
