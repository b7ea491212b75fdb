#pragma once

#include <QDateTime>
#include <QString>

namespace zp {

// The time from start to now as "hh:nn:ss": the hours of the time-of-day part,
// so 25 hours show as "01:00:00". A negative span (the clock was set back)
// shows "00:00:00".
QString FormatElapsed(const QDateTime& start, const QDateTime& now);

// The leading number of a caption such as the row counter: leading blanks,
// an optional sign, then digits; anything else ends it. No digits gives 0.
qint64 LeadingNumber(const QString& text);

} // namespace zp
