#pragma once

#include <QString>

class QNetworkReply;

namespace zp {

// Why a finished reply gave no usable body, in a few words for a log line:
// the HTTP status for an error status ("404"), Qt's error text for a network
// failure, otherwise the status and its reason phrase ("200 ok").
QString DescribeReplyFailure(const QNetworkReply& reply);

} // namespace zp
