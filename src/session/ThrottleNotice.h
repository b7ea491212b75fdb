#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>

namespace zp {

// Turns the shop's answers that ask the run to slow down (429, 503,
// Retry-After) into at most two lines for whoever reads the run's warnings:
// one when the shop first slows the run down, one when it has kept slowing
// it down for a minute. Throttling answers more than kLongSlowDown apart
// belong to separate slow-downs; a run tells of its first slow-down and of
// the first one that lasts a minute, never more.
class ThrottleNotice {
public:
    static constexpr std::chrono::seconds kLongSlowDown { 60 };

    // A throttling answer came at now; reason: its few words ("429"). The
    // line to show, or empty.
    QString onThrottled(const QDateTime& now, const QString& reason);

private:
    QDateTime m_slowSince; // the start of the present slow-down
    QDateTime m_lastThrottled;
    bool m_toldFirst = false;
    bool m_toldLong = false;
};

} // namespace zp
