#include "headless/HeadlessRun.h"

#include "headless/StopSignals.h"
#include "headless/TerminalOutput.h"
#include "headless/TerminalRunView.h"
#include "run/RunState.h"
#include "session/RunSession.h"
#include "util/Clock.h"

#include <QDir>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace Qt::Literals::StringLiterals;

namespace zp {

int ExitStatusFor(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed:
        return ExitCompleted;
    case RunOutcome::CompletedWithGaps:
        return ExitIncomplete;
    case RunOutcome::Stopped:
        return ExitStopped;
    case RunOutcome::NotRun:
    case RunOutcome::NoSiteAccess:
    case RunOutcome::WorkbookUnusable:
        break;
    }
    return ExitFailed;
}

int RunHeadless(const RunSettings& settings, std::FILE* out)
{
#ifdef Q_OS_UNIX
    // A reader of the output that went away (a closed log pipe) must not end
    // the run before it has saved: the lost lines are only lost lines.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    RunState state;
    StopSignals signals(state.StopRequested);
    SystemClock progressClock; // the progress line's; the run's own is the session's
    TerminalOutput output(out, IsTerminal(out));
    TerminalRunView view(state, progressClock, output);
    const bool answered = IsTerminal(stdin);
    TerminalDialogs dialogs(output, answered ? fileno(stdin) : -1, signals.pendingSignalFd());

    RunSession run(state, view, dialogs, settings, answered ? Answerer::User : Answerer::Nobody,
        [&output](
            const QString& path) { output.line(u"Файл: "_s + QDir::toNativeSeparators(path)); });
    run.Command1_Click();
    return ExitStatusFor(run.lastOutcome());
}

} // namespace zp
