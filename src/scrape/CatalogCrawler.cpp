#include "scrape/CatalogCrawler.h"

#include "util/ElapsedTime.h"
#include "util/HtmlParser.h"
#include "util/PathUtils.h"
#include "util/Utf8.h"

#include <QCoreApplication>

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
    if (!pageUrl.isEmpty())
        m_walkedListings.insert(pageUrl);
    walkListing(pageText, 0);
}

void CatalogCrawler::walkListing(const QString& pageText, int depth)
{
    const StopFlag& stop = m_context.state.StopRequested;
    qint32 pos = 1;
    qint32 endPos = 0;
    qint32 startPos = 0;

    // Sub-listings first: a product link is looked for only when no
    // sub-listing link lies behind the search position.
    for (;;) {
        const QString link
            = ExtractBetween(pageText, SubListingMarker, u"\""_s, pos, endPos, startPos);
        if (link.isEmpty())
            break;
        pos = endPos;
        const QString url = m_context.catalogBaseUrl + link;
        if (depth >= MaxListingDepth || m_walkedListings.contains(url))
            continue;
        m_walkedListings.insert(url);
        const QString subPage = fetchPage(url);
        if (subPage.isEmpty())
            return;
        walkListing(subPage, depth + 1);
        if (stop.isSet())
            return;
    }

    for (;;) {
        const QString link
            = ExtractBetween(pageText, ProductLinkMarker, u"\""_s, pos, endPos, startPos);
        pos = endPos;
        if (link.isEmpty())
            return;
        const QString url = m_context.catalogBaseUrl + link;
        const QString segment = GetFileNameFromURL(link);
        if (m_context.sheet.isStored(url, segment)) {
            skipStoredProduct(segment);
            if (stop.isSet())
                return;
            continue;
        }
        const QString productPage = fetchPage(url);
        if (productPage.isEmpty())
            return;
        m_extractor.ParseProduct(productPage, url);
    }
}

QString CatalogCrawler::fetchPage(const QString& url)
{
    StopFlag& stop = m_context.state.StopRequested;
    for (;;) {
        const QString page
            = UTF8ToUnicode(m_context.pages.ReadHTML(url, QString(), PageTimeoutSeconds));
        if (stop.isSet())
            return {};
        if (!page.isEmpty())
            return page;
        m_context.view.warnNotLoaded(url, m_context.pages.lastFailure());
        if (m_context.dialogs.show(MessageStyle::RetryPrompt, RetryPromptText)
            != MessageAnswer::Yes) {
            stop.set();
            return {};
        }
    }
}

void CatalogCrawler::skipStoredProduct(const QString& segment)
{
    m_context.view.setStatusText(StoredStatusPrefix + segment + u"..."_s);
    m_context.view.setElapsedText(FormatElapsed(m_context.state.StartTime, m_context.clock.now()));
    QCoreApplication::processEvents();
}

} // namespace zp
