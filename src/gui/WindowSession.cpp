#include "gui/WindowSession.h"

#include "gui/Form1.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace zp {

WindowSession::WindowSession(Form1& window, const RunSettings& settings,
    CatalogWorkbookFile::Handover handover, Dialogs* dialogs)
    : m_window(window)
    , m_messageBoxes(&window)
    , m_dialogs(dialogs ? *dialogs : m_messageBoxes)
    , m_run(window.runState(), window, m_dialogs, settings, Answerer::User, std::move(handover))
{
    // The window is the context object and outlives the session, so the
    // connection is taken down by hand.
    m_clicks
        = QObject::connect(&window, &Form1::startStopClicked, &window, [this] { onClicked(); });
    window.setCloseGuard([this] { return mayClose(); });
}

WindowSession::~WindowSession()
{
    QObject::disconnect(m_clicks);
    m_window.setCloseGuard({});
}

void WindowSession::onClicked()
{
    const bool startsRun = !m_window.runState().IsRunning;
    m_run.Command1_Click();
    if (startsRun && m_closeAfterRun) {
        // The guard stays: the run is over, so it lets this close through,
        // and it still holds the window open during a later run should the
        // window be shown again.
        m_closeAfterRun = false;
        m_window.close();
    }
}

// During a run, closing asks what the button asks (the controller asks it
// when called during a run).
bool WindowSession::mayClose()
{
    RunState& state = m_window.runState();
    if (!state.IsRunning)
        return true;
    if (!m_dialogs.showing() && !state.StopRequested.isSet())
        m_run.Command1_Click();
    if (m_dialogs.showing() || state.StopRequested.isSet())
        m_closeAfterRun = true;
    return false;
}

WindowSession::WatchedDialogs::WatchedDialogs(Dialogs& boxes)
    : m_boxes(boxes)
{
}

MessageAnswer WindowSession::WatchedDialogs::show(MessageStyle style, const QString& text)
{
    return showWithReason(style, text, {});
}

MessageAnswer WindowSession::WatchedDialogs::showWithReason(
    MessageStyle style, const QString& text, const QString& reason)
{
    ++m_showing;
    const MessageAnswer answer = m_boxes.showWithReason(style, text, reason);
    --m_showing;
    return answer;
}

void OpenInSpreadsheetApplication(const QString& workbookPath, Dialogs& dialogs)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(workbookPath)))
        dialogs.show(MessageStyle::Report,
            u"Не удалось открыть файл в программе для таблиц.\rФайл: "_s
                + QDir::toNativeSeparators(workbookPath));
}

} // namespace zp
