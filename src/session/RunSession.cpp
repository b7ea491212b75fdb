#include "session/RunSession.h"

#include "run/RunState.h"

namespace zp {

RunSession::RunSession(RunState& state, RunView& view, Dialogs& dialogs,
    const RunSettings& settings, Answerer answerer, CatalogWorkbookFile::Handover handover)
    : m_pages(state.StopRequested, settings.connections, CatalogCrawler::PageTimeoutSeconds,
        settings.access)
    , m_controller(state, view, dialogs, m_pages.reader(), m_pages.downloader(), m_clock,
          answeredBy(settings, answerer), std::move(handover))
{
}

RunSettings RunSession::answeredBy(RunSettings settings, Answerer answerer)
{
    if (answerer == Answerer::User)
        settings.failedPages = FailedPagePolicy {};
    return settings;
}

} // namespace zp
