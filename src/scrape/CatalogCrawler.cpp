#include "scrape/CatalogCrawler.h"

#include "util/ElapsedTime.h"
#include "util/HtmlParser.h"
#include "util/PathUtils.h"
#include "util/SameOrigin.h"
#include "util/Utf8.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace zp {

CatalogCrawler::CatalogCrawler(const ScrapeContext& context)
    : m_context(context)
    , m_extractor(context)
{
}

void CatalogCrawler::ParseCategory(const QString& pageText, const QString& pageUrl)
{
    m_walkedListings.clear();
    m_depthCutReported = false;
    m_failure = Failure::None;
    if (!pageUrl.isEmpty())
        m_walkedListings.insert(pageUrl);
    walkListing(listingLinks(pageText), 0);
    m_context.pages.forgetExpected();
}

QStringList CatalogCrawler::pagesAhead(const ListingLinks& links, int depth) const
{
    QStringList urls;
    for (const QString& link : links.subListings) {
        const QString url = m_context.catalogBaseUrl + link;
        if (depth < MaxListingDepth && IsSameOrigin(url, m_context.catalogBaseUrl)
            && !m_walkedListings.contains(url))
            urls.append(url);
    }
    for (const QString& link : links.products) {
        const QString url = m_context.catalogBaseUrl + link;
        if (IsSameOrigin(url, m_context.catalogBaseUrl)
            && !m_context.sheet.isStored(url, GetFileNameFromURL(link)))
            urls.append(url);
    }
    return urls;
}

// Only the links are kept while the sub-listings are walked, not the page:
// a deep tree of large pages holds one page at a time.
CatalogCrawler::ListingLinks CatalogCrawler::listingLinks(const QString& pageText)
{
    ListingLinks links;
    qint32 pos = 1;
    qint32 endPos = 0;
    qint32 startPos = 0;
    // Product links count only when no sub-listing link lies behind them.
    for (;;) {
        QString link = ExtractBetween(pageText, SubListingMarker, u"\""_s, pos, endPos, startPos);
        if (link.isEmpty())
            break;
        pos = endPos;
        links.subListings.append(std::move(link));
    }
    for (;;) {
        QString link = ExtractBetween(pageText, ProductLinkMarker, u"\""_s, pos, endPos, startPos);
        pos = endPos;
        if (link.isEmpty())
            break;
        links.products.append(std::move(link));
    }
    return links;
}

void CatalogCrawler::walkListing(const ListingLinks& links, int depth)
{
    const StopFlag& stop = m_context.state.StopRequested;
    if (m_context.pages.readsAhead())
        m_context.pages.expect(pagesAhead(links, depth));
    for (const QString& link : links.subListings) {
        const QString url = m_context.catalogBaseUrl + link;
        if (!IsSameOrigin(url, m_context.catalogBaseUrl) || m_walkedListings.contains(url))
            continue;
        if (depth >= MaxListingDepth) {
            reportDepthCut();
            continue;
        }
        m_walkedListings.insert(url);
        ListingLinks below;
        {
            const QString subPage = fetchPage(url);
            if (subPage.isEmpty())
                return;
            below = listingLinks(subPage);
        } // the page's text is gone before its sub-listings are fetched
        walkListing(below, depth + 1);
        if (mustEnd())
            return;
    }

    for (const QString& link : links.products) {
        const QString url = m_context.catalogBaseUrl + link;
        if (!IsSameOrigin(url, m_context.catalogBaseUrl))
            continue;
        const QString segment = GetFileNameFromURL(link);
        if (m_context.sheet.isStored(url, segment)) {
            skipStoredProduct(segment);
            if (stop.isSet() || !fetchMissingPicture(url))
                return;
            continue;
        }
        if (m_context.state.NextRow > CatalogSheet::MaxRow) {
            m_failure = Failure::SheetFull;
            return;
        }
        bool skipped = false;
        const QString productPage = fetchPage(url, &skipped);
        if (skipped)
            continue;
        if (productPage.isEmpty())
            return;
        if (!m_extractor.ParseProduct(productPage, url)) {
            m_failure = Failure::SaveFailed;
            return;
        }
    }
}

void CatalogCrawler::reportDepthCut()
{
    if (m_depthCutReported)
        return;
    m_depthCutReported = true;
    m_context.dialogs.show(MessageStyle::Failure, DepthCutMessage);
}

bool CatalogCrawler::fetchMissingPicture(const QString& productUrl)
{
    const QString fileName = m_context.sheet.storedPicture(productUrl);
    if (!IsSafeFileName(fileName)
        || QFileInfo(QDir(m_context.programFolder)
                         .filePath(ProductExtractor::ImagesFolder + u'/' + fileName))
               .isFile())
        return true;
    bool skipped = false;
    const QString productPage = fetchPage(productUrl, &skipped);
    if (skipped)
        return true;
    if (productPage.isEmpty())
        return false;
    m_extractor.FetchMissingPicture(productPage, fileName);
    return true;
}

bool CatalogCrawler::mustEnd() const
{
    return m_context.state.StopRequested.isSet() || m_failure != Failure::None;
}

QString CatalogCrawler::fetchPage(const QString& url, bool* skipped)
{
    StopFlag& stop = m_context.state.StopRequested;
    const FailedPagePolicy& policy = m_context.failedPages;
    for (int retry = 0;; ++retry) {
        const QString page
            = UTF8ToUnicode(m_context.pages.ReadHTML(url, QString(), PageTimeoutSeconds));
        if (stop.isSet())
            return {};
        if (!page.isEmpty())
            return page;
        m_context.view.warnNotLoaded(url, m_context.pages.lastFailure());
        if (retry < policy.automaticRetries) {
            if (!waitBeforeRetry(retry))
                return {};
            continue;
        }
        if (m_context.dialogs.show(MessageStyle::RetryPrompt, RetryPromptText)
            == MessageAnswer::Yes)
            continue;
        if (skipped && policy.skipFailedProducts) {
            m_context.view.warn(SkippedProductPrefix + url);
            *skipped = true;
            return {};
        }
        stop.set();
        return {};
    }
}

bool CatalogCrawler::waitBeforeRetry(int retry)
{
    const QList<std::chrono::milliseconds>& delays = m_context.failedPages.backOff;
    const StopFlag& stop = m_context.state.StopRequested;
    if (!delays.isEmpty()) {
        QEventLoop loop;
        QTimer::singleShot(
            delays.at(std::min<qsizetype>(retry, delays.size() - 1)), &loop, &QEventLoop::quit);
        QObject::connect(&stop, &StopFlag::raised, &loop, &QEventLoop::quit);
        if (!stop.isSet())
            loop.exec();
    }
    return !stop.isSet();
}

void CatalogCrawler::skipStoredProduct(const QString& segment)
{
    m_context.view.setStatusText(StoredStatusPrefix + segment + u"..."_s);
    m_context.view.setElapsedText(FormatElapsed(m_context.state.StartTime, m_context.clock.now()));
    QCoreApplication::processEvents();
}

} // namespace zp
