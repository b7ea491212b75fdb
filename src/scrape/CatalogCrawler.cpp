#include "scrape/CatalogCrawler.h"

#include "util/ElapsedTime.h"
#include "util/HtmlParser.h"
#include "util/PathUtils.h"
#include "util/SameOrigin.h"
#include "util/Utf8.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace zp {

CatalogCrawler::CatalogCrawler(const ScrapeContext& context)
    : m_context(context)
    , m_extractor(context)
    , m_reader(context.pages, context.view, context.state.StopRequested, context.failedPages,
          PageTimeoutSeconds)
{
}

void CatalogCrawler::ParseCategory(const QString& pageText, const QString& pageUrl)
{
    ParseCategory(ListingLinks::read(pageText, MaxHeldLinkBytes), pageUrl);
}

void CatalogCrawler::ParseCategory(const ListingLinks& links, const QString& pageUrl)
{
    m_walkedListings.clear();
    m_readProducts.clear();
    m_reportedCuts.clear();
    m_heldLinkBytes = links.heldBytes();
    m_failure = Failure::None;
    if (!pageUrl.isEmpty())
        m_walkedListings.insert(pageUrl);
    if (links.cut)
        reportCut(ListingCutMessage);
    walkListing(links, 0);
    m_context.pages.forgetExpected();
}

QStringList CatalogCrawler::pagesAhead(const ListingLinks& links, int depth) const
{
    QStringList urls;
    const auto full = [&urls] { return urls.size() >= PageReader::kMaxExpectedPages; };
    for (qsizetype i = 0; i < links.subListings.size() && !full(); ++i) {
        const QString url = m_context.catalogBaseUrl + links.subListings.at(i);
        if (depth < MaxListingDepth && IsSameOrigin(url, m_context.catalogBaseUrl)
            && !m_walkedListings.contains(url))
            urls.append(url);
    }
    for (qsizetype i = 0; i < links.products.size() && !full(); ++i) {
        const QString link = links.products.at(i);
        const QString url = m_context.catalogBaseUrl + link;
        if (IsSameOrigin(url, m_context.catalogBaseUrl)
            && !m_context.sheet.isStored(url, GetFileNameFromURL(link)))
            urls.append(url);
    }
    return urls;
}

void CatalogCrawler::walkListing(const ListingLinks& links, int depth)
{
    if (m_context.pages.readsAhead())
        m_context.pages.expect(pagesAhead(links, depth));
    if (walkSubListings(links.subListings, depth))
        walkProducts(links.products);
}

bool CatalogCrawler::walkSubListings(const LinkList& subListings, int depth)
{
    for (qsizetype i = 0; i < subListings.size(); ++i) {
        const QString url = m_context.catalogBaseUrl + subListings.at(i);
        if (!IsSameOrigin(url, m_context.catalogBaseUrl) || m_walkedListings.contains(url))
            continue;
        if (depth >= MaxListingDepth) {
            reportCut(DepthCutMessage);
            continue;
        }
        m_walkedListings.insert(url);
        if (!walkSubListing(url, depth + 1))
            return false;
    }
    return true;
}

bool CatalogCrawler::walkSubListing(const QString& url, int depth)
{
    const std::optional<ListingLinks> links = readSubListing(url);
    if (!links)
        return false;
    if (links->cut) {
        reportCut(ListingCutMessage);
        return true;
    }
    const qint64 held = links->heldBytes();
    m_heldLinkBytes += held;
    walkListing(*links, depth);
    m_heldLinkBytes -= held;
    return !mustEnd();
}

std::optional<ListingLinks> CatalogCrawler::readSubListing(const QString& url)
{
    const QString page = fetchPage(url);
    if (page.isEmpty())
        return std::nullopt;
    return ListingLinks::read(page, MaxHeldLinkBytes - m_heldLinkBytes);
}

void CatalogCrawler::walkProducts(const LinkList& products)
{
    for (qsizetype i = 0; i < products.size(); ++i) {
        const QString link = products.at(i);
        const QString url = m_context.catalogBaseUrl + link;
        if (!IsSameOrigin(url, m_context.catalogBaseUrl))
            continue;
        const QString segment = GetFileNameFromURL(link);
        if (m_context.sheet.isStored(url, segment)) {
            skipStoredProduct(segment);
            if (m_context.state.StopRequested.isSet() || !fetchMissingPicture(url))
                return;
        } else if (!writeNewProduct(url)) {
            return;
        }
    }
}

bool CatalogCrawler::writeNewProduct(const QString& url)
{
    if (m_context.state.NextRow > CatalogSheet::MaxRow) {
        m_failure = Failure::SheetFull;
        return false;
    }
    if (!m_context.sheet.hasRoom()) {
        m_failure = Failure::WorkbookFull;
        return false;
    }
    bool skipped = false;
    m_readProducts.insert(url);
    const QString page = fetchPage(url, &skipped);
    if (skipped)
        return true;
    if (page.isEmpty())
        return false;
    if (!m_extractor.ParseProduct(page, url)) {
        m_failure = Failure::SaveFailed;
        return false;
    }
    return true;
}

void CatalogCrawler::reportCut(const QString& message)
{
    if (m_reportedCuts.contains(message))
        return;
    m_reportedCuts.insert(message);
    m_context.dialogs.show(MessageStyle::Failure, message);
}

bool CatalogCrawler::fetchMissingPicture(const QString& productUrl)
{
    if (m_readProducts.contains(productUrl))
        return true;
    const QString fileName = m_context.sheet.storedPicture(productUrl);
    if (!IsSafeFileName(fileName)
        || QFileInfo(ProductExtractor::PicturePath(QDir(m_context.programFolder), fileName))
               .isFile())
        return true;
    // Tried once: the product is stored, and the next run tries again.
    m_readProducts.insert(productUrl);
    const QString productPage
        = UTF8ToUnicode(m_context.pages.ReadHTML(productUrl, QString(), PageTimeoutSeconds));
    if (m_context.state.StopRequested.isSet())
        return false;
    if (productPage.isEmpty()) {
        const QString reason = m_context.pages.lastFailure();
        m_context.view.warn(
            RepairLeftPrefix + productUrl + (reason.isEmpty() ? QString() : u": "_s + reason));
        return true;
    }
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
    for (;;) {
        const QString page = m_reader.read(url);
        if (stop.isSet())
            return {};
        if (!page.isEmpty())
            return page;
        if (m_context.dialogs.showWithReason(
                MessageStyle::RetryPrompt, RetryPromptText, m_reader.lastVerdict().reason)
            == MessageAnswer::Yes)
            continue;
        if (skipped && m_context.failedPages.skipFailedProducts) {
            m_context.view.warn(SkippedProductPrefix + url);
            m_context.state.countSkippedProduct();
            *skipped = true;
            return {};
        }
        stop.set();
        return {};
    }
}

void CatalogCrawler::skipStoredProduct(const QString& segment)
{
    m_context.view.setStatusText(StoredStatusPrefix + segment + u"..."_s);
    m_context.view.setElapsedText(FormatElapsed(m_context.state.StartTime, m_context.clock.now()));
    QCoreApplication::processEvents();
}

} // namespace zp
