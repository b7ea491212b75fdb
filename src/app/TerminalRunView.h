#pragma once

#include "app/Dialogs.h"
#include "app/RunView.h"

#include <QString>

namespace zp {

class Clock;
class TerminalOutput;
struct RunState;

// The window's labels, shown on a terminal: products written, elapsed time,
// products per minute and the status line (the current category path).
class TerminalRunView final : public RunView {
public:
    TerminalRunView(const RunState& state, const Clock& clock, TerminalOutput& out);

    void setButtonCaption(const QString&) override {}
    void setStatusText(const QString& text) override;
    void setElapsedText(const QString& text) override;
    QString counterText() const override { return m_counter; }
    void setCounterText(const QString& text) override;

private:
    void show();

    const RunState& m_state;
    const Clock& m_clock;
    TerminalOutput& m_out;
    QString m_status;
    QString m_counter = QStringLiteral("0");
};

// Message boxes on a terminal: every text on its own lines. The retry prompt
// asks "[y/N]" when standard input is a terminal and is answered No otherwise.
class TerminalDialogs final : public Dialogs {
public:
    TerminalDialogs(TerminalOutput& out, bool interactiveInput);

    MessageAnswer show(MessageStyle style, const QString& text) override;

private:
    TerminalOutput& m_out;
    bool m_interactive;
};

} // namespace zp
