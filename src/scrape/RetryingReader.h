#pragma once

#include "net/PageReader.h"
#include "net/RetryPolicy.h"
#include "scrape/ScrapeContext.h"

#include <QString>

namespace zp {

class RunView;
class StopFlag;

// Reads a page of the catalogue and, when it cannot be had for a reason that
// may pass, tries again on its own as the run's FailedPagePolicy allows,
// after the retry policy's back-off (a throttled page the reader gave up on
// counts as such a fault and waits at least as long as the server asked).
// Every failure is named on the view (warnNotLoaded); a stop ends the read
// and its waits at once, without a warning.
class RetryingReader {
public:
    RetryingReader(PageReader& pages, RunView& view, const StopFlag& stop,
        const FailedPagePolicy& policy, int timeoutSeconds);

    // The decoded page at url, also when a stop came with it; empty when it
    // could not be had (lastVerdict() says why) or a stop came first.
    QString read(const QString& url);
    const ReplyVerdict& lastVerdict() const { return m_lastVerdict; }

private:
    PageReader& m_pages;
    RunView& m_view;
    const StopFlag& m_stop;
    RetryPolicy m_policy;
    int m_timeoutSeconds;
    ReplyVerdict m_lastVerdict;
};

} // namespace zp
