#pragma once

#include "gui/MessageBoxDialogs.h"
#include "session/RunSession.h"

namespace zp {

class Dialogs;
class Form1;

// Wires the window to a run: the button's clicks go to the run controller,
// and closing the window during a run asks whether to stop it, as the button
// does; on Yes the run saves and reports, then the window closes, on No both
// go on. Closing while a message box of the run is up asks nothing: the
// window closes when the run is over, and the box's answer decides whether
// the run stops. Closing while idle closes at once.
//
// The window must outlive the session; destroying the session takes its click
// handler and close guard off the window again.
class WindowSession {
public:
    // dialogs: nullptr shows real message boxes on the window; otherwise the
    // caller's service, which must outlive the session.
    WindowSession(Form1& window, const RunSettings& settings,
        CatalogWorkbookFile::Handover handover, Dialogs* dialogs = nullptr);
    ~WindowSession();

    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

private:
    // Passes the run's message boxes on and knows whether one is on screen.
    class WatchedDialogs final : public Dialogs {
    public:
        explicit WatchedDialogs(Dialogs& boxes);
        MessageAnswer show(MessageStyle style, const QString& text) override;
        MessageAnswer showWithReason(
            MessageStyle style, const QString& text, const QString& reason) override;
        bool showing() const { return m_showing > 0; }

    private:
        Dialogs& m_boxes;
        int m_showing = 0;
    };

    void onClicked();
    bool mayClose();

    Form1& m_window;
    MessageBoxDialogs m_messageBoxes;
    WatchedDialogs m_dialogs;
    RunSession m_run;
    QMetaObject::Connection m_clicks;
    bool m_closeAfterRun = false;
};

// Opens a saved workbook in the desktop's spreadsheet application. When no
// application takes it, one message on dialogs tells where the file is.
void OpenInSpreadsheetApplication(const QString& workbookPath, Dialogs& dialogs);

} // namespace zp
