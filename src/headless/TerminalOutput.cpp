#include "headless/TerminalOutput.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace zp {

namespace {
constexpr int DefaultColumns = 80;

// Shop text reaches the output: without this an escape sequence in a
// product's name could recolour the terminal, set its title, move the cursor
// or, with a line break, forge a line of the report.
QString plain(const QString& text, bool keepLineBreaks)
{
    QString result = text;
    for (QChar& c : result) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
        if (control && !(keepLineBreaks && u == u'\n'))
            c = QChar::ReplacementCharacter;
    }
    return result;
}

} // namespace

bool IsTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

int TerminalColumns(std::FILE* stream)
{
    winsize size = {};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
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
        line(plain(text, false));
        return;
    }
    // Carriage return and erase-line redraw the progress line in place.
    // One column is left free: some terminals wrap when the last one is written.
    // A long line loses its middle: the counters lead, the product ends it.
    const qsizetype width = TerminalColumns(m_out) - 1;
    QString fitted = plain(text, false);
    if (fitted.size() > width) {
        const qsizetype head = width / 2;
        fitted = fitted.left(head) + QChar(u'…') + fitted.right(width - head - 1);
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
    std::fprintf(m_out, "%s\n", plain(text, true).toLocal8Bit().constData());
    std::fflush(m_out);
}

void TerminalOutput::warning(const QString& text)
{
    if (m_progressShown) {
        std::fputs("\r\033[K", m_out);
        std::fflush(m_out);
        m_progressShown = false;
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace zp
