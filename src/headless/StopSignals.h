#pragma once

#include <QObject>

class QSocketNotifier;

namespace zp {

class StopFlag;

// Holds SIGINT and SIGTERM back (blocked, pending) in every thread started
// from now on, until a StopSignals takes them over: called first thing in a
// headless run, so that a signal during start-up is a clean stop rather than
// the end of the process. (Unix; elsewhere it does nothing.)
void HoldStopSignals();

// Turns SIGINT and SIGTERM into a stop request while it lives: the run then
// saves what it has written and reports, as after a confirmed Stop. Further
// signals only repeat the request, so a second Ctrl+C cannot cut the save
// short (it only ends the wait for the pictures of the rows being saved).
// The signal handler only writes to a pipe; the flag is set from the event
// loop. (Unix; elsewhere it does nothing.)
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(StopFlag& flag, QObject* parent = nullptr);
    ~StopSignals() override;

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // A descriptor that is readable from the moment a signal arrives until the
    // event loop has turned it into the stop request; -1 when not watching.
    // Lets a blocking wait outside the event loop (a question on the terminal)
    // give way to a signal.
    int pendingSignalFd() const;

private:
    void drain();

    StopFlag& m_flag;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace zp
