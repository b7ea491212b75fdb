#pragma once

#include "session/RunController.h"

#include <cstdio>

namespace zp {

// Exit statuses of a run without a window.
enum ExitStatus : int {
    ExitCompleted = 0, // the catalogue was walked to its end
    ExitFailed = 1, // no access to the first page, or the workbook could not be used
    ExitUsage = 2, // bad command line
    ExitStopped = 3, // stopped by a signal or a declined retry, after saving
    ExitIncomplete
    = 4, // walked to the end, but products skipped or pictures lost to passing faults
};

// The exit status that tells how a run ended.
int ExitStatusFor(RunOutcome outcome);

// Performs exactly one run as a click on Start would, reporting on out
// instead of the window: progress, every message, and at the end the
// workbook's path. SIGINT and SIGTERM act as a confirmed Stop; SIGPIPE is
// ignored, so that output nobody reads any more does not end the run. Needs a
// QCoreApplication; returns the exit status.
int RunHeadless(const RunSettings& settings, std::FILE* out);

} // namespace zp
