#include "util/ElapsedTime.h"

#include <algorithm>

namespace zp {

QString FormatElapsed(const QDateTime& start, const QDateTime& now)
{
    constexpr qint64 SecondsPerDay = 24 * 60 * 60;
    const qint64 elapsed = std::max<qint64>(0, start.secsTo(now)) % SecondsPerDay;
    return QStringLiteral("%1:%2:%3")
        .arg(elapsed / 3600, 2, 10, QLatin1Char('0'))
        .arg(elapsed / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(elapsed % 60, 2, 10, QLatin1Char('0'));
}

qint64 LeadingNumber(const QString& text)
{
    constexpr qint64 Limit = qint64(1) << 53;
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        negative = text.at(i++) == u'-';
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i)
        value = std::min(Limit, value * 10 + (text.at(i).unicode() - u'0'));
    return negative ? -value : value;
}

} // namespace zp
