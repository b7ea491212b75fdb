#include "app/TerminalRunView.h"

#include "app/RunState.h"
#include "app/TerminalOutput.h"
#include "util/Clock.h"
#include "util/ElapsedTime.h"

#include <QTextStream>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace zp {

TerminalRunView::TerminalRunView(const RunState& state, const Clock& clock, TerminalOutput& out)
    : m_state(state)
    , m_clock(clock)
    , m_out(out)
{
}

void TerminalRunView::setStatusText(const QString& text)
{
    m_status = text;
    if (!text.isEmpty())
        show();
}

void TerminalRunView::setElapsedText(const QString&)
{
    if (m_out.isLive())
        show();
}

void TerminalRunView::setCounterText(const QString& text)
{
    m_counter = text;
}

void TerminalRunView::show()
{
    const QDateTime now = m_clock.now();
    const double minutes = std::max<qint64>(1, m_state.StartTime.msecsTo(now)) / 60000.0;
    const QString line = u"%1 новых | %2 | %3 в мин | %4"_s.arg(m_state.NewCount)
                             .arg(FormatElapsed(m_state.StartTime, now))
                             .arg(m_state.NewCount / minutes, 0, 'f', 1)
                             .arg(m_status);
    m_out.progress(line);
}

TerminalDialogs::TerminalDialogs(TerminalOutput& out, bool interactiveInput)
    : m_out(out)
    , m_interactive(interactiveInput)
{
}

MessageAnswer TerminalDialogs::show(MessageStyle style, const QString& text)
{
    QString shown = text;
    shown.replace(u'\r', u'\n');
    switch (style) {
    case MessageStyle::Failure:
    case MessageStyle::Report:
        m_out.line(shown);
        return MessageAnswer::Ok;
    case MessageStyle::StopQuestion:
    case MessageStyle::RetryPrompt:
        break;
    }
    if (!m_interactive) {
        m_out.line(shown + u" [y/N] n"_s);
        return MessageAnswer::No;
    }
    m_out.line(shown + u" [y/N]"_s);
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == u"y"_s || answer == u"yes"_s || answer == u"д"_s || answer == u"да"_s
        ? MessageAnswer::Yes
        : MessageAnswer::No;
}

} // namespace zp
