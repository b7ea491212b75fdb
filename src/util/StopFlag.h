#pragma once

#include <QObject>
#include <chrono>

namespace zp {

// The process-wide "stop the run" request (StopRequested). Set when the user
// confirms Stop or declines a retry, tested at the run's check points, cleared
// by the run controller. Waits in the core listen to raised() so that a stop
// ends them at once instead of at their next poll.
class StopFlag : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isSet() const { return m_set; }

    // Sets the flag and emits raised() (also when it was already set).
    void set();
    void clear() { m_set = false; }

Q_SIGNALS:
    void raised();

private:
    bool m_set = false;
};

// Waits in an event loop for delay, or until stop is raised (at once when it
// is set already); true when the whole delay passed.
bool WaitUnlessStopped(std::chrono::milliseconds delay, const StopFlag& stop);

} // namespace zp
