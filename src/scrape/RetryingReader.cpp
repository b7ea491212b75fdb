#include "scrape/RetryingReader.h"

#include "run/RunView.h"
#include "util/StopFlag.h"
#include "util/Utf8.h"

#include <algorithm>

namespace zp {

RetryingReader::RetryingReader(PageReader& pages, RunView& view, const StopFlag& stop,
    const FailedPagePolicy& policy, int timeoutSeconds)
    : m_pages(pages)
    , m_view(view)
    , m_stop(stop)
    , m_policy(policy.automaticRetries, {}, policy.firstBackOff)
    , m_timeoutSeconds(timeoutSeconds)
{
}

QString RetryingReader::read(const QString& url)
{
    RetryPolicy::Tries tries;
    for (;;) {
        const QString page = UTF8ToUnicode(m_pages.ReadHTML(url, QString(), m_timeoutSeconds));
        // A page that came is handed out even when a stop came with it: the
        // caller decides whether to look at it.
        if (!page.isEmpty())
            return page;
        if (m_stop.isSet())
            return {};
        m_lastVerdict = m_pages.lastVerdict();
        m_view.warnNotLoaded(url, m_lastVerdict.reason);
        // The reader has spent its own throttle retries on this page.
        ReplyVerdict counted = m_lastVerdict;
        if (counted.kind == ReplyVerdict::Kind::Throttled)
            counted.kind = ReplyVerdict::Kind::Passing;
        std::optional<std::chrono::milliseconds> delay = m_policy.nextTry(tries, counted);
        if (!delay)
            return {};
        if (m_lastVerdict.retryAfter)
            delay = std::max(*delay, *m_lastVerdict.retryAfter);
        if (!WaitUnlessStopped(*delay, m_stop))
            return {};
    }
}

} // namespace zp
