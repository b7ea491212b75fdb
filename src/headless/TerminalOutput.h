#pragma once

#include <QString>
#include <cstdio>

namespace zp {

// Writes the headless run's output: a progress line that is redrawn in place
// on a terminal, and whole lines. A whole line first ends a pending progress
// line so that nothing is overwritten.
class TerminalOutput {
public:
    // live: redraw progress in place (standard output is a terminal).
    TerminalOutput(std::FILE* out, bool live);

    bool isLive() const { return m_live; }
    // Live: replaces the progress line, shortened in the middle to the
    // terminal's width so that it never wraps (a wrapped line could not be
    // redrawn in place). Otherwise the same as line().
    void progress(const QString& text);
    void line(const QString& text);

private:
    std::FILE* m_out;
    bool m_live;
    bool m_progressShown = false;
};

// True when the stream is attached to a terminal.
bool IsTerminal(std::FILE* stream);

// Width of the terminal the stream is attached to; 80 when it has none.
int TerminalColumns(std::FILE* stream);

} // namespace zp
