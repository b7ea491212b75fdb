#pragma once

#include <QDateTime>

namespace zp {

// The present date-time, as the run sees it. Tests hand in a clock they move.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace zp
