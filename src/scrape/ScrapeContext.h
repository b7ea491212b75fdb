#pragma once

#include "catalog/CatalogSheet.h"
#include "net/Downloader.h"
#include "net/PageReader.h"
#include "net/RetryPolicy.h"
#include "run/Dialogs.h"
#include "run/RunState.h"
#include "run/RunView.h"
#include "util/Clock.h"

#include <QString>
#include <chrono>

namespace zp {

// Everything the catalogue crawler and the product extraction work with,
// handed in by the run controller for one run. The context only refers to
// the services; the caller owns them and keeps them alive for as long as a
// ProductExtractor or CatalogCrawler built from the context is in use.
// What the crawl does with a page that cannot be had, before and after the
// retry prompt. The defaults are those of a run someone watches: the prompt
// at once, and No stops the run.
struct FailedPagePolicy {
    // Tries before the prompt after a fault that may pass (RetryPolicy's
    // passing retries), each after the policy's back-off from firstBackOff.
    int automaticRetries = 0;
    std::chrono::milliseconds firstBackOff = RetryPolicy::kFirstBackOff;
    // A product page still failing after a No is passed over (a warning
    // names it) and the walk goes on; listing pages still stop the run.
    bool skipFailedProducts = false;
};

struct ScrapeContext {
    RunState& state; // NextRow, NewCount, StartTime, StopRequested
    CatalogSheet& sheet; // the worksheet rows are written to
    RunView& view; // lblCV, Label1 and Label2
    Dialogs& dialogs; // the retry prompt
    PageReader& pages; // listing and product pages
    Downloader& downloader; // pictures
    const Clock& clock; // elapsed time for Label1

    // Origin of the catalogue site, no trailing slash; every link found on
    // a page is appended to it unchanged.
    QString catalogBaseUrl;
    // Origin of the picture server followed by "/picture".
    QString imageBaseUrl;
    // The folder that holds the workbook; pictures go to its Images folder,
    // which the caller creates before the crawl.
    QString programFolder;
    FailedPagePolicy failedPages {};
};

} // namespace zp
