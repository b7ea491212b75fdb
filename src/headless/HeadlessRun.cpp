#include "headless/HeadlessRun.h"

#include "headless/StopSignals.h"
#include "headless/TerminalOutput.h"
#include "headless/TerminalRunView.h"
#include "net/RunNetwork.h"
#include "run/RunState.h"
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
    SystemClock clock;
    TerminalOutput output(out, IsTerminal(out));
    TerminalRunView view(state, clock, output);
    TerminalDialogs dialogs(
        output, IsTerminal(stdin) ? fileno(stdin) : -1, signals.pendingSignalFd());

    RunSettings runSettings = settings;
    if (IsTerminal(stdin))
        // The user answers: the prompt at once, and No stops the run.
        runSettings.failedPages = FailedPagePolicy {};
    RunNetwork pages(state.StopRequested, settings.connections, CatalogCrawler::PageTimeoutSeconds,
        settings.access);

    RunController controller(state, view, dialogs, pages.reader(), pages.downloader(), clock,
        runSettings, [&output](const QString& path) {
            output.line(u"Файл: "_s + QDir::toNativeSeparators(path));
        });
    controller.Command1_Click();
    return ExitStatusFor(controller.lastOutcome());
}

} // namespace zp
