#include "scrape/CatalogCrawler.h"

#include "PageParts.h"
#include "ScrapeFixture.h"

#include <QMetaObject>
#include <ostream>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

const QString RootUrl = TestCatalogBaseUrl + u"/catalog/3833/Zavrinello"_s;
const QString RetryText = u"Нет доступа к сайту.\rПопробовать еще раз?"_s;

QString productLink(int id)
{
    return u"/catalog/product/%1/ZV-%1"_s.arg(id);
}

QString listingLink(const QString& name)
{
    return u"/catalog/39/"_s + name;
}

QString url(const QString& link)
{
    return TestCatalogBaseUrl + link;
}

page::Link product(int id)
{
    return { productLink(id), u"Tuote %1"_s.arg(id) };
}

QString listing(const QString& body)
{
    return page::head() + body + page::tail();
}

QString products(std::initializer_list<int> ids)
{
    QList<page::Link> links;
    for (int id : ids)
        links.append(product(id));
    return page::productTable(links);
}

QString sub(const QString& name)
{
    return page::subListing(listingLink(name), u"Luokka "_s + name);
}

class CatalogCrawlerTest : public ScrapeFixture {
protected:
    void serveListing(const QString& name, const QString& body)
    {
        pages.setPage(url(listingLink(name)), listing(body));
    }

    void serveProduct(int id)
    {
        pages.setPage(url(productLink(id)),
            page::head() + page::orderNumber(u"ZV-%1"_s.arg(id)) + page::description(u"Kuvaus"_s)
                + page::tail());
    }

    void serveProducts(std::initializer_list<int> ids)
    {
        for (int id : ids)
            serveProduct(id);
    }

    void markStored(int id)
    {
        sheet.addStoredRow(100 + id, u"ZV-%1"_s.arg(id), url(productLink(id)));
    }

    void crawl(const QString& body, const QString& pageUrl = RootUrl)
    {
        ScrapeContext scrape = context();
        scrape.failedPages = failedPages;
        CatalogCrawler crawler(scrape);
        crawler.ParseCategory(listing(body), pageUrl);
    }

    FailedPagePolicy failedPages;

    // Order numbers of the rows written by the crawl, in row order.
    QStringList writtenRows() const
    {
        QStringList rows;
        for (int row = FirstRow; row < state.NextRow; ++row)
            rows.append(sheet.text(row, 1));
        return rows;
    }

    static QStringList urls(const QStringList& links)
    {
        QStringList result;
        for (const QString& link : links)
            result.append(url(link));
        return result;
    }
};

TEST_F(CatalogCrawlerTest, PageWithNeitherMarkerFetchesNothing)
{
    crawl(
        u"<div class=\"title\">Ei tuotteita</div><a href=\"/catalog/1/x\">x</a><td><a href=\"/p/1\">1</a></td>"_s);

    EXPECT_TRUE(pages.requests().isEmpty());
    EXPECT_TRUE(view.statusTexts().isEmpty());
    EXPECT_EQ(state.NextRow, FirstRow);
    EXPECT_FALSE(state.StopRequested.isSet());
}

TEST_F(CatalogCrawlerTest, StoredFirstProductIsSkippedAndLaterOnesAreWritten)
{
    markStored(1);
    serveProducts({ 2, 3 });

    crawl(products({ 1, 2, 3 }));

    EXPECT_EQ(pages.requestedUrls(), urls({ productLink(2), productLink(3) }));
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-2"_s, u"ZV-3"_s }));
    EXPECT_EQ(sheet.link(FirstRow, 1), url(productLink(2)));
    EXPECT_EQ(view.statusTexts().first(), u"Уже загружен ZV-1..."_s);
    ASSERT_EQ(sheet.storedQueries().size(), 3);
    EXPECT_EQ(sheet.storedQueries().first(),
        (QPair<QString, QString> { url(productLink(1)), u"ZV-1"_s }));
    for (const FakePageReader::Request& r : pages.requests()) {
        EXPECT_EQ(r.body, QString());
        EXPECT_EQ(r.timeoutSeconds, 60);
    }
}

TEST_F(CatalogCrawlerTest, StoredProductBehindANewOneIsNotWrittenAgain)
{
    markStored(2);
    serveProducts({ 1, 2, 3 });

    crawl(products({ 1, 2, 3 }));

    EXPECT_EQ(pages.requestedUrls(), urls({ productLink(1), productLink(3) }));
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-1"_s, u"ZV-3"_s }));
    EXPECT_TRUE(view.statusTexts().contains(u"Уже загружен ZV-2..."_s));
    EXPECT_EQ(sheet.orderNumbers().count(u"ZV-2"_s), 1);
}

TEST_F(CatalogCrawlerTest, EveryStoredProductIsSkippedWithItsOwnStatusAndNoFetch)
{
    markStored(1);
    markStored(2);
    markStored(3);
    qsizetype statusesAtFirstYield = -1;
    int elapsedUpdatesAtFirstYield = -1;
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver,
        [&] {
            statusesAtFirstYield = view.statusTexts().size();
            elapsedUpdatesAtFirstYield = view.elapsedUpdates();
        },
        Qt::QueuedConnection);

    crawl(products({ 1, 2, 3 }));

    EXPECT_TRUE(pages.requests().isEmpty());
    EXPECT_EQ(view.statusTexts(),
        (QStringList {
            u"Уже загружен ZV-1..."_s, u"Уже загружен ZV-2..."_s, u"Уже загружен ZV-3..."_s }));
    EXPECT_EQ(view.elapsedUpdates(), 3);
    EXPECT_EQ(view.elapsedText(), u"01:02:05"_s);
    EXPECT_EQ(statusesAtFirstYield, 1);
    EXPECT_EQ(elapsedUpdatesAtFirstYield, 1);
    EXPECT_EQ(state.NextRow, FirstRow);
}

TEST_F(CatalogCrawlerTest, ProductListedOnTwoListingsIsWrittenOnce)
{
    serveListing(u"A"_s, products({ 1 }));
    serveListing(u"B"_s, products({ 1, 2 }));
    serveProducts({ 1, 2 });

    crawl(sub(u"A"_s) + sub(u"B"_s));

    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-1"_s, u"ZV-2"_s }));
    EXPECT_EQ(pages.requestedUrls().count(url(productLink(1))), 1);
    EXPECT_TRUE(view.statusTexts().contains(u"Уже загружен ZV-1..."_s));
}

TEST_F(CatalogCrawlerTest, LinksAreAppendedToTheBaseUnchanged)
{
    const QString odd = u"/catalog/product/7/ZV-7?x=1&amp;y=%C3%A4"_s;
    const QString oddListing = u"/catalog/40/Ty&amp;%C3%B6kalut"_s;
    pages.setPage(url(oddListing), listing(page::productTable({ { odd, u"Seitsemän"_s } })));
    pages.setPage(url(odd), page::head() + page::orderNumber(u"ZV-7"_s) + page::tail());

    crawl(page::subListing(oddListing, u"Työkalut"_s));

    EXPECT_EQ(pages.requestedUrls(), (QStringList { url(oddListing), url(odd) }));
    EXPECT_EQ(sheet.storedQueries().first().second, u"ZV-7?x=1&amp;y=%C3%A4"_s);
    EXPECT_EQ(sheet.link(FirstRow, 1), url(odd));
}

TEST_F(CatalogCrawlerTest, LinksThatLeaveTheShopsHostAreNotFetched)
{
    // Appended to the base, these name another host, port or scheme.
    const QStringList away = { u"@127.0.0.1:42001/catalog/9/Muu"_s, u".evil.example/catalog/9"_s,
        u":8443/catalog/9"_s, u"@evil.example/catalog/product/9/ZV-9"_s };
    QString body;
    for (const QString& link : away)
        body += page::subListing(link, u"Muu"_s);
    body += sub(u"A"_s);
    serveListing(
        u"A"_s, page::productTable({ { away[0], u"Muu"_s }, { away[3], u"Muu"_s }, product(1) }));
    serveProduct(1);
    for (const QString& link : away)
        pages.setPage(url(link), listing(products({ 2 })));

    crawl(body);

    EXPECT_EQ(pages.requestedUrls(), urls({ listingLink(u"A"_s), productLink(1) }));
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-1"_s }));
}

TEST_F(CatalogCrawlerTest, SubListingsAreWalkedDepthFirstInPageOrderBeforeProducts)
{
    serveListing(u"S1"_s, sub(u"S11"_s) + products({ 1 }));
    serveListing(u"S11"_s, products({ 2 }));
    serveListing(u"S2"_s, products({ 3 }));
    serveProducts({ 1, 2, 3, 4 });

    crawl(sub(u"S1"_s) + sub(u"S2"_s) + products({ 4 }));

    EXPECT_EQ(pages.requestedUrls(),
        urls({ listingLink(u"S1"_s), listingLink(u"S11"_s), productLink(2), productLink(1),
            listingLink(u"S2"_s), productLink(3), productLink(4) }));
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-2"_s, u"ZV-1"_s, u"ZV-3"_s, u"ZV-4"_s }));
}

TEST_F(CatalogCrawlerTest, ProductsInFrontOfASubListingLinkArePassedOver)
{
    serveListing(u"S1"_s, products({ 3 }));
    serveProducts({ 1, 2, 3 });

    crawl(products({ 1 }) + sub(u"S1"_s) + products({ 2 }));

    EXPECT_EQ(
        pages.requestedUrls(), urls({ listingLink(u"S1"_s), productLink(3), productLink(2) }));
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-3"_s, u"ZV-2"_s }));
}

TEST_F(CatalogCrawlerTest, RetryAnsweredYesFetchesTheSamePageAgain)
{
    pages.setAnswers(url(productLink(1)),
        { QByteArray(), QByteArray(), (page::head() + page::orderNumber(u"ZV-1"_s)).toUtf8() });
    dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Yes);

    crawl(products({ 1 }));

    const ShownMessage prompt { MessageStyle::RetryPrompt, RetryText };
    EXPECT_EQ(dialogs.shown(), (std::vector<ShownMessage> { prompt, prompt }));
    EXPECT_EQ(pages.requestedUrls(), urls({ productLink(1), productLink(1), productLink(1) }));
    EXPECT_EQ(writtenRows(), QStringList { u"ZV-1"_s });
    EXPECT_FALSE(state.StopRequested.isSet());
}

// An unattended run tries a page again on its own before the prompt when
// its failure may pass; one that will not asks at once.
struct AutomaticRetryCase {
    const char* name;
    ReplyVerdict::Kind failure;
    int requests;
    bool prompted;

    friend void PrintTo(const AutomaticRetryCase& c, std::ostream* os) { *os << c.name; }
};

class AutomaticRetryTest : public CatalogCrawlerTest,
                           public ::testing::WithParamInterface<AutomaticRetryCase> { };

TEST_P(AutomaticRetryTest, ComesBeforeThePromptWhenTheFailureMayPass)
{
    const AutomaticRetryCase& c = GetParam();
    failedPages.automaticRetries = 2;
    failedPages.firstBackOff = std::chrono::milliseconds(1);
    pages.setFailureKind(c.failure);
    pages.setAnswers(url(productLink(1)),
        { QByteArray(), QByteArray(), (page::head() + page::orderNumber(u"ZV-1"_s)).toUtf8() });
    if (c.prompted)
        dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Yes);

    crawl(products({ 1 }));

    EXPECT_EQ(dialogs.shown().size(), c.prompted ? 2u : 0u);
    EXPECT_EQ(pages.requestedUrls().size(), c.requests);
    EXPECT_EQ(writtenRows(), QStringList { u"ZV-1"_s });
}

INSTANTIATE_TEST_SUITE_P(Failures, AutomaticRetryTest,
    ::testing::Values(AutomaticRetryCase { "Passing", ReplyVerdict::Kind::Passing, 3, false },
        AutomaticRetryCase { "ThrottledTooOften", ReplyVerdict::Kind::Throttled, 3, false },
        AutomaticRetryCase { "Final", ReplyVerdict::Kind::Final, 3, true }),
    [](const ::testing::TestParamInfo<AutomaticRetryCase>& info) {
        return std::string(info.param.name);
    });

// The page of a stored product whose picture is missing is read again for
// the picture; when it cannot be had, the picture is left for a later run:
// one warning, no prompt, nothing skipped, and the walk goes on. A product
// page is read at most once a walk, for its row or for a repair.
TEST_F(CatalogCrawlerTest, FailedRepairIsLeftForALaterRunWithoutAPrompt)
{
    failedPages.automaticRetries = 2;
    failedPages.firstBackOff = std::chrono::milliseconds(1);
    failedPages.skipFailedProducts = true;
    sheet.addStoredRow(101, u"ZV-1"_s, url(productLink(1)), u"zv-1.png"_s);
    serveProduct(2);

    // Listed again, neither the stored product nor the new one is read twice.
    crawl(products({ 1, 2, 1, 2 }));

    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(pages.requestedUrls(), urls({ productLink(1), productLink(2) }));
    EXPECT_EQ(
        view.warnings, QStringList { CatalogCrawler::RepairLeftPrefix + url(productLink(1)) });
    EXPECT_EQ(writtenRows(), QStringList { u"ZV-2"_s });
    EXPECT_FALSE(state.StopRequested.isSet());
}

struct SkipCase {
    const char* name;
    bool skipFailedProducts;
    bool unreachableIsListing;
    QStringList rows; // written
    bool stopped;

    friend void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.name; }
};

class SkipFailedTest : public CatalogCrawlerTest,
                       public ::testing::WithParamInterface<SkipCase> { };

// After the retries the prompt is answered No: a product page is passed over
// only when skipping is asked for, a listing page always stops the walk.
TEST_P(SkipFailedTest, NoAfterTheRetries)
{
    const SkipCase& c = GetParam();
    failedPages.automaticRetries = 1;
    failedPages.firstBackOff = std::chrono::milliseconds(1);
    failedPages.skipFailedProducts = c.skipFailedProducts;
    serveProducts({ 1, 3 });
    serveListing(u"S2"_s, products({ 3 }));
    dialogs.answer(MessageAnswer::No);

    crawl(c.unreachableIsListing ? sub(u"Down"_s) + sub(u"S2"_s) + products({ 1 })
                                 : products({ 1, 2, 3 }));

    EXPECT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(writtenRows(), c.rows);
    EXPECT_EQ(state.StopRequested.isSet(), c.stopped);
    const QStringList warnings = c.stopped
        ? QStringList()
        : QStringList { CatalogCrawler::SkippedProductPrefix + url(productLink(2)) };
    EXPECT_EQ(view.warnings, warnings);
    EXPECT_EQ(state.SkippedProducts, c.stopped ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Pages, SkipFailedTest,
    ::testing::Values(SkipCase { "ProductSkipped", true, false, { u"ZV-1"_s, u"ZV-3"_s }, false },
        SkipCase { "ProductStopsWithoutSkipping", false, false, { u"ZV-1"_s }, true },
        SkipCase { "ListingStopsAlways", true, true, {}, true }),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.name); });

struct DeclinedCase {
    const char* name;
    bool unreachableIsListing;

    friend void PrintTo(const DeclinedCase& c, std::ostream* os) { *os << c.name; }
};

class DeclinedRetryTest : public CatalogCrawlerTest,
                          public ::testing::WithParamInterface<DeclinedCase> { };

TEST_P(DeclinedRetryTest, NoStopsTheWholeWalk)
{
    serveListing(u"S2"_s, products({ 3 }));
    serveProducts({ 1, 2, 3 });
    QString root;
    if (GetParam().unreachableIsListing) {
        root = sub(u"Down"_s) + sub(u"S2"_s) + products({ 1 });
    } else {
        pages.setPage(url(productLink(1)), QByteArray());
        root = products({ 1, 2 });
    }
    dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::No);

    crawl(root);

    EXPECT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.pendingAnswers(), 0);
    EXPECT_TRUE(state.StopRequested.isSet());
    EXPECT_EQ(pages.requests().size(), 2);
    EXPECT_EQ(state.NextRow, FirstRow);
}

INSTANTIATE_TEST_SUITE_P(Pages, DeclinedRetryTest,
    ::testing::Values(DeclinedCase { "Product", false }, DeclinedCase { "SubListing", true }),
    [](const ::testing::TestParamInfo<DeclinedCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(CatalogCrawlerTest, StopDuringASubListingFetchEndsEveryLevelWithoutPrompt)
{
    serveListing(u"S1"_s, sub(u"S11"_s));
    serveListing(u"S11"_s, products({ 5 }));
    serveListing(u"S2"_s, products({ 6 }));
    serveProducts({ 1, 5, 6 });
    pages.setOnFetch([&](const QString& requested) {
        if (requested == url(listingLink(u"S11"_s)))
            state.StopRequested.set();
    });

    crawl(sub(u"S1"_s) + sub(u"S2"_s) + products({ 1 }));

    EXPECT_EQ(pages.requestedUrls(), urls({ listingLink(u"S1"_s), listingLink(u"S11"_s) }));
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(state.NextRow, FirstRow);
}

// The next product page is requested before the flag is looked at; the
// reader answers empty at once, and nothing more happens.
TEST_F(CatalogCrawlerTest, StopDuringAProductIsHonouredAtTheNextFetch)
{
    serveProducts({ 1, 2, 3 });
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [&] { state.StopRequested.set(); }, Qt::QueuedConnection);

    crawl(products({ 1, 2, 3 }));

    EXPECT_EQ(pages.requestedUrls(), urls({ productLink(1), productLink(2) }));
    EXPECT_EQ(writtenRows(), QStringList { u"ZV-1"_s });
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(CatalogCrawlerTest, StopDuringAStoredProductEndsTheWalk)
{
    markStored(1);
    serveProducts({ 2 });
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [&] { state.StopRequested.set(); }, Qt::QueuedConnection);

    crawl(products({ 1, 2 }));

    EXPECT_TRUE(pages.requests().isEmpty());
    EXPECT_EQ(sheet.storedQueries().size(), 1);
    EXPECT_EQ(state.NextRow, FirstRow);
}

// Going on after a failed save would only add rows that are lost as well.
TEST_F(CatalogCrawlerTest, FailedPeriodicSaveEndsTheWalkAtEveryLevel)
{
    state.NewCount = 98;
    sheet.failSaves();
    serveListing(u"a"_s, products({ 1, 2, 3 }));
    serveProducts({ 1, 2, 3, 4 });
    CatalogCrawler crawler(context());

    crawler.ParseCategory(listing(sub(u"a"_s) + products({ 4 })), RootUrl);

    EXPECT_EQ(crawler.failure(), CatalogCrawler::Failure::SaveFailed);
    EXPECT_EQ(crawler.savedCount(), 0);
    EXPECT_EQ(sheet.saveCount(), 1);
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-1"_s, u"ZV-2"_s }));
    EXPECT_EQ(pages.requests().size(), 3); // the sub-listing and two products
    EXPECT_FALSE(state.StopRequested.isSet());
}

TEST_F(CatalogCrawlerTest, SheetWithoutAFreeRowEndsTheWalkBeforeTheNextFetch)
{
    state.NextRow = CatalogSheet::MaxRow;
    serveProducts({ 1, 2 });
    CatalogCrawler crawler(context());

    crawler.ParseCategory(listing(products({ 1, 2 })), RootUrl);

    EXPECT_EQ(crawler.failure(), CatalogCrawler::Failure::SheetFull);
    EXPECT_EQ(sheet.text(CatalogSheet::MaxRow, 1), u"ZV-1"_s);
    EXPECT_EQ(pages.requests().size(), 1);
}

TEST_F(CatalogCrawlerTest, WorkbookWithoutRoomInMemoryEndsTheWalkBeforeTheNextFetch)
{
    serveProducts({ 1, 2, 3 });
    CatalogCrawler crawler(context());
    sheet.setRoomForCells(1); // full once the first product is in

    crawler.ParseCategory(listing(products({ 1, 2, 3 })), RootUrl);

    EXPECT_EQ(crawler.failure(), CatalogCrawler::Failure::WorkbookFull);
    EXPECT_EQ(writtenRows(), QStringList { u"ZV-1"_s });
    EXPECT_EQ(pages.requests().size(), 1);
}

TEST_F(CatalogCrawlerTest, ListingReachedAgainIsNotWalkedTwice)
{
    const QString self
        = u"<div class=\"title\"><a href=\"/catalog/3833/Zavrinello\">Zavrinello</a></div>"_s;
    serveListing(u"A"_s, self + sub(u"A"_s) + sub(u"B"_s) + products({ 1 }));
    serveListing(u"B"_s, sub(u"A"_s) + self + products({ 2 }));
    pages.setPage(RootUrl, listing(self + sub(u"A"_s)));
    serveProducts({ 1, 2 });

    crawl(self + sub(u"A"_s) + sub(u"B"_s));

    EXPECT_EQ(pages.requestedUrls(),
        urls({ listingLink(u"A"_s), listingLink(u"B"_s), productLink(2), productLink(1) }));
    EXPECT_EQ(writtenRows(), (QStringList { u"ZV-2"_s, u"ZV-1"_s }));
}

TEST_F(CatalogCrawlerTest, SubListingsDeeperThanTheBoundArePassedOverWithOneMessage)
{
    constexpr int Levels = CatalogCrawler::MaxListingDepth + 6;
    for (int level = 1; level <= Levels; ++level) {
        // Two links past the bound on the deepest walked page: still one message.
        serveListing(u"L%1"_s.arg(level),
            sub(u"L%1"_s.arg(level + 1)) + sub(u"M%1"_s.arg(level)) + products({ level }));
        serveProduct(level);
    }
    for (int level = 1; level < CatalogCrawler::MaxListingDepth; ++level)
        serveListing(u"M%1"_s.arg(level), QString());
    dialogs.answer(MessageAnswer::Ok);

    crawl(sub(u"L1"_s));

    EXPECT_EQ(dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Failure,
            u"Каталог глубже 64 уровней: более глубокие разделы пропущены."_s } }));

    QStringList expected;
    for (int level = 1; level <= CatalogCrawler::MaxListingDepth; ++level)
        expected.append(url(listingLink(u"L%1"_s.arg(level))));
    for (int level = CatalogCrawler::MaxListingDepth; level >= 1; --level) {
        if (level < CatalogCrawler::MaxListingDepth)
            expected.append(url(listingLink(u"M%1"_s.arg(level))));
        expected.append(url(productLink(level)));
    }
    EXPECT_EQ(pages.requestedUrls(), expected);
    EXPECT_EQ(state.NewCount, CatalogCrawler::MaxListingDepth);
}

// A reader that fetches ahead hears of every listing's pages in crawl order:
// sub-listings not walked yet, then the products that are not stored; the
// walk itself asks for the same pages as a reader that does not.
TEST_F(CatalogCrawlerTest, PagesAheadAreAnnouncedInCrawlOrderWithoutStoredProducts)
{
    pages.setReadsAhead(true);
    serveListing(u"A"_s, products({ 1, 2, 3 }));
    serveListing(u"B"_s, products({ 4, 5 }));
    serveProducts({ 1, 2, 3, 4, 5, 6, 7 });
    markStored(2);
    markStored(6);

    crawl(sub(u"A"_s) + sub(u"B"_s) + products({ 6, 7 }));

    const QList<QStringList> expected {
        urls({ listingLink(u"A"_s), listingLink(u"B"_s), productLink(7) }),
        urls({ productLink(1), productLink(3) }),
        urls({ productLink(4), productLink(5) }),
        { u"-forget-"_s },
    };
    EXPECT_EQ(pages.expectations(), expected);
    EXPECT_EQ(pages.requestedUrls(),
        urls({ listingLink(u"A"_s), productLink(1), productLink(3), listingLink(u"B"_s),
            productLink(4), productLink(5), productLink(7) }));
    EXPECT_EQ(
        writtenRows(), (QStringList { u"ZV-1"_s, u"ZV-3"_s, u"ZV-4"_s, u"ZV-5"_s, u"ZV-7"_s }));
}

// The links kept for the listings above the one being walked are bounded: a
// listing whose links would pass the bound is passed over, with one message.
TEST_F(CatalogCrawlerTest, ListingsWithTooManyLinksArePassedOverWithOneMessage)
{
    const QString hugeLink = QString(CatalogCrawler::MaxHeldLinkBytes + 1, u'x');
    serveListing(u"A"_s, sub(hugeLink) + products({ 1 }));
    serveListing(u"B"_s, products({ 2 }));
    serveListing(u"C"_s, sub(hugeLink + u'y') + products({ 3 }));
    serveProducts({ 1, 2, 3 });
    dialogs.answer(MessageAnswer::Ok);

    crawl(sub(u"A"_s) + sub(u"B"_s) + sub(u"C"_s));

    EXPECT_EQ(dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Failure,
            u"Разделы каталога слишком велики: часть разделов пропущена."_s } }));
    EXPECT_EQ(pages.requestedUrls(),
        urls({ listingLink(u"A"_s), listingLink(u"B"_s), productLink(2), listingLink(u"C"_s) }));
    EXPECT_EQ(writtenRows(), QStringList { u"ZV-2"_s });
}

// The first page cannot be passed over: it keeps the links that fit.
TEST_F(CatalogCrawlerTest, FirstPageWithTooManyLinksKeepsThoseThatFit)
{
    const QString hugeLink = QString(CatalogCrawler::MaxHeldLinkBytes, u'x');
    serveListing(u"A"_s, products({ 1 }));
    serveProducts({ 1, 2 });
    dialogs.answer(MessageAnswer::Ok);

    crawl(sub(u"A"_s) + sub(hugeLink) + sub(u"B"_s) + products({ 2 }));

    EXPECT_EQ(dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Failure,
            u"Разделы каталога слишком велики: часть разделов пропущена."_s } }));
    // Product 2 may lie in front of a sub-listing link that was left out.
    EXPECT_EQ(pages.requestedUrls(), urls({ listingLink(u"A"_s), productLink(1) }));
}

// A listing longer than the reader keeps is announced only as far as it keeps.
TEST_F(CatalogCrawlerTest, PagesAheadStopAtWhatTheReaderKeeps)
{
    pages.setReadsAhead(true);
    QList<page::Link> many;
    for (int id = 1; id <= PageReader::kMaxExpectedPages + 10; ++id)
        many.append(product(id));
    dialogs.answer(MessageAnswer::No); // the first product page is not there

    crawl(page::productTable(many));

    ASSERT_FALSE(pages.expectations().isEmpty());
    const QStringList& announced = pages.expectations().front();
    ASSERT_EQ(announced.size(), PageReader::kMaxExpectedPages);
    EXPECT_EQ(announced.front(), url(productLink(1)));
    EXPECT_EQ(announced.back(), url(productLink(PageReader::kMaxExpectedPages)));
}

} // namespace
} // namespace zp::test
