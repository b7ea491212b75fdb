#include "headless/TerminalRunView.h"

#include "headless/TerminalOutput.h"
#include "run/RunState.h"
#include "util/Clock.h"
#include "util/ElapsedTime.h"

#include <QByteArray>
#include <algorithm>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

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
    if (m_out.isLive() && !text.isEmpty())
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
    // The counter moves once per product written (and once when the workbook
    // is opened, which leaves NewCount alone).
    if (!m_out.isLive() && m_state.NewCount != m_shownCount) {
        m_shownCount = m_state.NewCount;
        show();
    }
}

void TerminalRunView::warnNotLoaded(const QString& address, const QString& reason)
{
    m_out.warning(u"Не удалось загрузить %1: %2"_s.arg(
        address, reason.isEmpty() ? u"пустой ответ"_s : reason));
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

TerminalDialogs::TerminalDialogs(TerminalOutput& out, int answerFd, int interruptFd)
    : m_out(out)
    , m_answerFd(answerFd)
    , m_interruptFd(interruptFd)
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
    case MessageStyle::Question:
        break;
    }
    if (m_answerFd < 0) {
        m_out.line(shown + u" [y/N] n"_s);
        return MessageAnswer::No;
    }
    m_out.line(shown + u" [y/N]"_s);
    return readAnswer();
}

MessageAnswer TerminalDialogs::readAnswer()
{
    // Byte by byte from the descriptor, so that nothing after the answer's
    // line is read ahead into a buffer and lost for the next question.
    QByteArray line;
#ifdef Q_OS_UNIX
    for (;;) {
        pollfd watched[2] = { { m_answerFd, POLLIN, 0 }, { m_interruptFd, POLLIN, 0 } };
        const int ready = ::poll(watched, m_interruptFd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (m_interruptFd >= 0 && watched[1].revents != 0)) {
            m_out.line(QString());
            return MessageAnswer::No;
        }
        char byte = 0;
        const ssize_t got = ::read(m_answerFd, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) { // end of input: No, on a line of its own
            m_out.line(QString());
            return MessageAnswer::No;
        }
        if (byte == '\n')
            break;
        line += byte;
    }
#endif
    const QString answer = QString::fromUtf8(line).trimmed().toLower();
    return answer == u"y"_s || answer == u"yes"_s || answer == u"д"_s || answer == u"да"_s
        ? MessageAnswer::Yes
        : MessageAnswer::No;
}

void TerminalRunView::warn(const QString& text)
{
    m_out.warning(text);
}

} // namespace zp
