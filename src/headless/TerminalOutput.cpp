#include "headless/TerminalOutput.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace zp {

namespace {
constexpr int DefaultColumns = 80;
}

bool IsTerminal(std::FILE* stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int TerminalColumns(std::FILE* stream)
{
#ifndef Q_OS_WIN
    winsize size = {};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#else
    Q_UNUSED(stream);
#endif
    return DefaultColumns;
}

TerminalOutput::TerminalOutput(std::FILE* out, bool live)
    : m_out(out)
    , m_live(live)
{
}

void TerminalOutput::progress(const QString& text)
{
    if (!m_live) {
        line(text);
        return;
    }
    // Carriage return and erase-line redraw the progress line in place.
    // One column is left free: some terminals wrap when the last one is written.
    // A long line loses its middle: the counters lead, the product ends it.
    const qsizetype width = TerminalColumns(m_out) - 1;
    QString fitted = text;
    if (fitted.size() > width) {
        const qsizetype head = width / 2;
        fitted = text.left(head) + QChar(u'…') + text.right(width - head - 1);
    }
    const QByteArray shown = fitted.toLocal8Bit();
    std::fprintf(m_out, "\r\033[K%s", shown.constData());
    std::fflush(m_out);
    m_progressShown = true;
}

void TerminalOutput::line(const QString& text)
{
    if (m_progressShown) {
        std::fputc('\n', m_out);
        m_progressShown = false;
    }
    std::fprintf(m_out, "%s\n", text.toLocal8Bit().constData());
    std::fflush(m_out);
}

} // namespace zp
