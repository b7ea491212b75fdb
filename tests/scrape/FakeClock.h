#pragma once

#include "util/Clock.h"

namespace zp::test {

// A clock that shows whatever the test sets.
class FakeClock : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& now) { m_now = now; }

private:
    QDateTime m_now;
};

} // namespace zp::test
