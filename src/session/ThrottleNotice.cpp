#include "session/ThrottleNotice.h"

using namespace Qt::Literals::StringLiterals;

namespace zp {

QString ThrottleNotice::onThrottled(const QDateTime& now, const QString& reason)
{
    const qint64 longMs = std::chrono::milliseconds(kLongSlowDown).count();
    if (!m_lastThrottled.isValid() || m_lastThrottled.msecsTo(now) > longMs)
        m_slowSince = now;
    m_lastThrottled = now;
    if (!m_toldFirst) {
        m_toldFirst = true;
        return u"Сайт просит загружать медленнее (%1): парсер ждёт и повторяет запросы сам."_s.arg(
            reason);
    }
    if (!m_toldLong && m_slowSince.msecsTo(now) >= longMs) {
        m_toldLong = true;
        return u"Сайт замедляет загрузку уже минуту (%1): парсер продолжает медленнее."_s.arg(
            reason);
    }
    return {};
}

} // namespace zp
