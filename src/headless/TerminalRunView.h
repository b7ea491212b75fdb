#pragma once

#include "run/Dialogs.h"
#include "run/RunView.h"

#include <QString>

namespace zp {

class Clock;
class TerminalOutput;
struct RunState;

// The window's labels without a window: products written, elapsed time,
// products per minute and the status line (the current category path). On a
// terminal they form one progress line redrawn at every change; otherwise one
// line is written per product written, so that a log grows with the products
// and not with every status change.
class TerminalRunView final : public RunView {
public:
    TerminalRunView(const RunState& state, const Clock& clock, TerminalOutput& out);

    void setButtonCaption(const QString&) override { }
    void setStatusText(const QString& text) override;
    void setElapsedText(const QString& text) override;
    QString counterText() const override { return m_counter; }
    void setCounterText(const QString& text) override;
    // On standard error, one line.
    void warn(const QString& text) override;
    void warnNotLoaded(const QString& address, const QString& reason) override;

private:
    void show();

    const RunState& m_state;
    const Clock& m_clock;
    TerminalOutput& m_out;
    QString m_status;
    QString m_counter = QStringLiteral("0");
    qint32 m_shownCount = 0; // NewCount of the last plain line
};

// Message boxes on a terminal: every text on its own lines (a carriage return
// in a text becomes a line break). A question (the retry prompt) asks "[y/N]"
// and reads the answer line from the descriptor answerFd; "y", "yes", "д" or
// "да" is Yes, anything else, the end of the input or a read error is No.
// With answerFd -1 (standard input is no terminal) every question is answered
// No at once. When interruptFd (>= 0) becomes readable while waiting for an
// answer, the question is answered No without consuming that descriptor: the
// stop signals' pipe, so that Ctrl+C at the prompt stops the run.
class TerminalDialogs final : public Dialogs {
public:
    TerminalDialogs(TerminalOutput& out, int answerFd, int interruptFd = -1);

    MessageAnswer show(MessageStyle style, const QString& text) override;

private:
    MessageAnswer readAnswer();

    TerminalOutput& m_out;
    int m_answerFd;
    int m_interruptFd;
};

} // namespace zp
