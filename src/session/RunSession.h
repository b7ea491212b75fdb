#pragma once

#include "net/RunNetwork.h"
#include "session/RunController.h"
#include "util/Clock.h"

namespace zp {

// Who answers the run's questions.
enum class Answerer {
    User, // at the window, or at a terminal on standard input
    Nobody, // a run without a terminal on standard input
};

// A run as both shells wire it: the network (pages and pictures, as many at
// once as settings.connections, every wait ended by the run's stop flag), the
// clock and the run controller. The shell hands in what it shows and asks,
// and the hand-over of the saved workbook, and passes the clicks on.
//
// A run the user answers gets the retry prompt at once, and No stops it; only
// a run nobody answers tries failed pages again on its own and skips failed
// products as settings.failedPages says.
class RunSession {
public:
    // state, view and dialogs must outlive the session.
    RunSession(RunState& state, RunView& view, Dialogs& dialogs, const RunSettings& settings,
        Answerer answerer, CatalogWorkbookFile::Handover handover);

    // The Start/Stop button's handler (RunController::Command1_Click).
    void Command1_Click() { m_controller.Command1_Click(); }
    RunOutcome lastOutcome() const { return m_controller.lastOutcome(); }

private:
    static RunSettings answeredBy(RunSettings settings, Answerer answerer);

    SystemClock m_clock;
    RunNetwork m_pages;
    RunController m_controller;
};

} // namespace zp
