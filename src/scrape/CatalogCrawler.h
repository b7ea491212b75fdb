#pragma once

#include "net/ShopAccess.h"
#include "scrape/ListingLinks.h"
#include "scrape/ProductExtractor.h"
#include "scrape/RetryingReader.h"
#include "scrape/ScrapeContext.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace zp {

// Walks a listing page of the catalogue and everything below it, handing every
// product page that is not stored yet to a ProductExtractor.
//
// Order of the walk: on each page, sub-listing links first, in page order and
// depth-first (a sub-listing page with everything below it is finished before
// the next link of the page is looked at); then the product links that lie
// behind the last sub-listing link, in page order. Product links in front of a
// sub-listing link are passed over. Links are appended to catalogBaseUrl
// exactly as written in the page; a resulting address on another scheme,
// host or port than catalogBaseUrl (a link "@other.host/...") is passed over
// without a fetch. While the sub-listings of a page are walked only its links
// are kept, not its text.
//
// Every product link is tested against the sheet (CatalogSheet::isStored, which
// also knows the rows written in this run): a stored product is skipped with
// the status "Уже загружен <segment>...", a refresh of the elapsed time and one
// yield to the event loop (and its picture fetched again when the file is
// missing); a new one is fetched and written. Each product is
// therefore written at most once, whatever the order of new and stored
// products on a page.
//
// Fetching: every page is read with PageTimeoutSeconds and decoded as UTF-8.
// StopRequested is tested right after every fetch; when set, the walk ends at
// every level without looking at the page. An empty page brings up the retry
// prompt, again for as long as the user answers Yes; No sets StopRequested and
// the walk ends. The context's FailedPagePolicy may try a page again on its
// own before the prompt (RetryingReader: faults that may pass, in an
// unattended run) and pass over a product page that still fails after a No,
// with a warning, instead of ending the walk. After a product has been
// written, the next product page is requested before the flag is tested; the
// page reader answers at once when the flag is set.
//
// Repairs: the page of a stored product whose picture is missing is read
// once for the picture; when it cannot be had, one warning
// (RepairLeftPrefix) leaves the picture to a later run, with no prompt, and
// the walk goes on.
//
// Look-ahead: when a listing page has been read, its sub-listings and its
// products that are not stored are announced to the page reader
// (PageReader::expect), which may fetch them ahead; the walk itself asks for
// its pages in the same order as without, one at a time.
//
// Cycles and depth: the crawler remembers every listing address it has walked
// during one top-level ParseCategory call and never walks one twice (a page
// linking to itself, to its parent or to a page reached by another path is
// passed over, without a fetch). Sub-listings deeper than MaxListingDepth
// levels below the first page are passed over as well, and the user is told
// once per walk (DepthCutMessage); the catalogue's real tree is a handful of
// levels deep, so the bound only guards against a shop that generates
// endless listing addresses. For the same reason the links kept for the
// listings above the one being walked may take at most MaxHeldLinkBytes: a
// sub-listing whose links would pass that is passed over too, the first page
// keeps only the links that fit, and the user is told once per walk
// (ListingCutMessage).
//
// Errors: nothing here raises. The sheet's failures are handled per field by
// the ProductExtractor and never end the walk; isStored cannot fail. Two
// things do end it at every level, since going on would lose rows: a
// periodic save that failed, and a sheet without a free row for the next new
// product. failure() says which; the caller tells the user.
class CatalogCrawler {
public:
    enum class Failure {
        None,
        SaveFailed, // a periodic save failed; rows after savedCount() are not in the file
        SheetFull, // no row left below the last stored one
        WorkbookFull, // the workbook holds as much as it may in memory
    };

    explicit CatalogCrawler(const ScrapeContext& context);

    // Walks the listing page pageText (decoded, as fetched by the caller) and
    // everything below it; returns when the walk is over or stopped.
    // pageUrl, when given, is the page's own address, so that a link back to
    // the first page is recognised as walked. Each call starts with an empty
    // record of walked listings.
    void ParseCategory(const QString& pageText, const QString& pageUrl = QString());
    // The same for a page whose links were read already (the page itself
    // need not be kept).
    void ParseCategory(const ListingLinks& links, const QString& pageUrl = QString());

    Failure failure() const { return m_failure; }
    // Why the periodic save failed (SaveFailed).
    const std::optional<zp::Failure>& saveFailure() const { return m_extractor.saveFailure(); }
    // How many of the new products were in the file at the last save of the
    // walk (the final save is the caller's).
    qint32 savedCount() const { return m_extractor.savedCount(); }

    static inline const QString& SubListingMarker = ListingLinks::SubListingMarker;
    static inline const QString& ProductLinkMarker = ProductExtractor::ProductLinkMarker;
    static constexpr int PageTimeoutSeconds = ShopAccess::kTimeout.count();
    static constexpr int MaxListingDepth = 64;
    static inline const QString NoSiteAccessText = QStringLiteral("Нет доступа к сайту.");
    static inline const QString RetryPromptText
        = NoSiteAccessText + QChar(u'\r') + QStringLiteral("Попробовать еще раз?");
    static inline const QString StoredStatusPrefix = QStringLiteral("Уже загружен ");
    static inline const QString SkippedProductPrefix
        = QStringLiteral("Товар пропущен, страница недоступна: ");
    static inline const QString RepairLeftPrefix = QStringLiteral(
        "Картинка уже загруженного товара оставлена до следующего запуска, страница недоступна: ");
    static inline const QString DepthCutMessage
        = QStringLiteral("Каталог глубже %1 уровней: более глубокие разделы пропущены.")
              .arg(MaxListingDepth);
    static constexpr qint64 MaxHeldLinkBytes = 32LL * 1024 * 1024;
    static inline const QString ListingCutMessage
        = QStringLiteral("Разделы каталога слишком велики: часть разделов пропущена.");

private:
    void walkListing(const ListingLinks& links, int depth);
    // Walks each sub-listing not walked yet, depth-first, below a listing at
    // depth; false when the walk must end.
    bool walkSubListings(const LinkList& subListings, int depth);
    // Reads the listing at url and walks it at depth; false when the walk
    // must end.
    bool walkSubListing(const QString& url, int depth);
    // The links of the listing page at url, whose text is dropped before they
    // are walked; none when the walk must end.
    std::optional<ListingLinks> readSubListing(const QString& url);
    // Writes each product not stored yet and repairs the pictures of the
    // stored ones.
    void walkProducts(const LinkList& products);
    // Fetches the product page at url and writes its row; false when the walk
    // must end (a stop or a failure). A page skipped after a failure is not
    // the end.
    bool writeNewProduct(const QString& url);
    // The pages the walk of links will ask for, in the order it will ask as
    // far as this page tells: its sub-listings not walked yet, then its
    // products not stored. The page reader may fetch them ahead.
    QStringList pagesAhead(const ListingLinks& links, int depth) const;
    // Shows message once per walk.
    void reportCut(const QString& message);
    // The decoded page at url; empty when the walk must end (StopRequested set
    // during the fetch, or the user declined a retry, which sets it).
    // A product page may be skipped instead (skipFailedProducts): empty
    // with *skipped set.
    QString fetchPage(const QString& url, bool* skipped = nullptr);
    void skipStoredProduct(const QString& segment);
    // A stored product whose picture is missing from Images/ (a download
    // that failed in an earlier run) gets its page fetched again for the
    // picture alone; its row is not touched. False when the walk must end
    // (a stop).
    bool fetchMissingPicture(const QString& productUrl);
    // True when the walk must end: a stop request or a failure.
    bool mustEnd() const;

    ScrapeContext m_context;
    ProductExtractor m_extractor;
    RetryingReader m_reader;
    QSet<QString> m_walkedListings;
    // Product pages read in this walk, new or for a repair: a product listed
    // again (on the same page or another) is not read a second time.
    QSet<QString> m_readProducts;
    QSet<QString> m_reportedCuts;
    qint64 m_heldLinkBytes = 0; // of the listings above the one being walked
    Failure m_failure = Failure::None;
};

} // namespace zp
