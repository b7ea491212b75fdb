// Whole runs of the run controller against the demo shop on loopback: real
// HTTP, real workbook files, pictures on disk, scripted message boxes, and
// the results read back through openpyxl.

#include "WorkbookRows.h"
#include "net/BackgroundDownloader.h"
#include "net/NetworkPageSource.h"
#include "net/PagePrefetcher.h"
#include "run/RunState.h"
#include "scrape/FakeRunView.h"
#include "session/RunController.h"
#include "support/DemoShop.h"
#include "support/ScriptedDialogs.h"
#include "util/Clock.h"
#include "workbook/ExternalTools.h"
#include "workbook/WorkbookLayout.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

// Passes fetches on to the real fetcher, keeps their addresses, shortens the
// time-out (so that failing pages cost a second, not a minute) and lets a
// test act right after a chosen fetch, as a user clicking during the wait.
class RecordingPageReader final : public PageReader {
public:
    explicit RecordingPageReader(PageReader& inner)
        : m_inner(inner)
    {
    }

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override
    {
        m_urls << url;
        const QByteArray page = m_inner.ReadHTML(url, body, std::min(timeoutSeconds, 2));
        if (m_afterFetch)
            m_afterFetch(url);
        return page;
    }

    ReplyVerdict lastVerdict() const override { return m_inner.lastVerdict(); }
    void setThrottledHandler(ThrottledHandler handler) override
    {
        m_inner.setThrottledHandler(std::move(handler));
    }

    void setAfterFetch(std::function<void(const QString&)> hook) { m_afterFetch = std::move(hook); }
    void clear() { m_urls.clear(); }
    int productFetches() const
    {
        return int(std::count_if(m_urls.begin(), m_urls.end(),
            [](const QString& u) { return u.contains(u"/product/"_s); }));
    }

private:
    PageReader& m_inner;
    QStringList m_urls;
    std::function<void(const QString&)> m_afterFetch;
};

QString reportText(int newProducts, int missingPictures = 0)
{
    QString text = u"Загрузка закончена.\rБыло загружено "_s + QString::number(newProducts)
        + u" новых товаров."_s;
    if (missingPictures > 0)
        text += u"\rНе загружено картинок: "_s + QString::number(missingPictures)
            + u". Их загрузят при следующем запуске."_s;
    return text;
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

class RunEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ExternalTools::python().isEmpty())
            GTEST_SKIP()
                << "python3 with openpyxl is not installed (scripts/install-deps installs it)";
        ASSERT_TRUE(m_folder.isValid());
    }

    void startShop(const DemoShop::Options& options)
    {
        m_shop = std::make_unique<DemoShop>();
        ASSERT_TRUE(m_shop->start(options));
        makeController({ m_shop->catalogBaseUrl(), m_shop->imageBaseUrl(), m_folder.path() });
    }

    void makeController(const RunSettings& settings)
    {
        m_controller = std::make_unique<RunController>(m_state, m_view, m_dialogs, m_pages,
            m_downloader, m_clock, settings, [this](const QString& path) { m_handedOver << path; });
    }

    // One click on Start, answering the final report.
    void runExpectingReport()
    {
        m_dialogs.answer(MessageAnswer::Ok);
        m_controller->Command1_Click();
    }

    WorkbookRows readWorkbook() const
    {
        const auto rows = WorkbookRows::read(workbookPath());
        EXPECT_TRUE(rows.has_value()) << "openpyxl could not read " << workbookPath().toStdString();
        EXPECT_EQ(ExternalTools::xlsxProblems(workbookPath()), QStringList());
        return rows.value_or(WorkbookRows());
    }

    QString workbookPath() const { return m_folder.filePath(u"Zavrinello.xlsx"_s); }

    void expectIdle() const
    {
        EXPECT_FALSE(m_state.IsRunning);
        EXPECT_FALSE(m_state.StopRequested.isSet());
    }

    QTemporaryDir m_folder;
    std::unique_ptr<DemoShop> m_shop;
    RunState m_state;
    FakeRunView m_view;
    ScriptedDialogs m_dialogs;
    NetworkPageSource m_source { 1 };
    PagePrefetcher m_fetcher { m_source, m_state.StopRequested, 1, 60 };
    RecordingPageReader m_pages { m_fetcher };
    BackgroundDownloader m_downloader { m_state.StopRequested, 1 };
    SystemClock m_clock;
    QStringList m_handedOver;
    std::unique_ptr<RunController> m_controller;
};

TEST_F(RunEndToEnd, FirstRunWritesEveryProductWithLinksAndPictures)
{
    const DemoShop::Options options;
    const QJsonArray products = DemoShop::manifest(options);
    ASSERT_FALSE(products.isEmpty());
    startShop(options);

    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Report, reportText(int(products.size())) } }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::Completed);
    EXPECT_EQ(m_handedOver, QStringList { workbookPath() });
    expectIdle();

    const WorkbookRows sheet = readWorkbook();
    ASSERT_EQ(sheet.productCount(), products.size());
    EXPECT_EQ(sheet.header().mid(0, 3),
        (QStringList { u"Tilausnumero"_s, u"Kuvaus"_s, u"Lisätarvikkeet"_s }));
    const QString base = m_shop->catalogBaseUrl();
    for (int i = 0; i < sheet.productCount(); ++i) {
        SCOPED_TRACE(i);
        const QJsonObject p = products.at(i).toObject();
        EXPECT_EQ(sheet.cell(i, 1).text, p.value(u"order_number"_s).toString());
        EXPECT_EQ(sheet.cell(i, 1).link, base + p.value(u"path"_s).toString());
        EXPECT_EQ(sheet.cell(i, 2).text, p.value(u"description"_s).toString());
        QStringList accessories;
        for (const QJsonValue& a : p.value(u"accessories"_s).toArray())
            accessories << a.toString();
        EXPECT_EQ(sheet.cell(i, 3).text, accessories.join(u", "_s));

        const QJsonArray categories = p.value(u"categories"_s).toArray();
        const QJsonArray categoryLinks = p.value(u"category_links"_s).toArray();
        for (int c = 0; c < std::min<int>(10, int(categories.size())); ++c) {
            EXPECT_EQ(sheet.cell(i, 4 + c).text, categories.at(c).toString());
            EXPECT_EQ(sheet.cell(i, 4 + c).link, base + categoryLinks.at(c).toString());
        }

        const QString picture = p.value(u"picture"_s).toString();
        EXPECT_EQ(sheet.cell(i, 14).text, picture);
        if (!picture.isEmpty()) {
            EXPECT_EQ(sheet.cell(i, 14).link, u"Images/"_s + picture);
            QFile file(m_folder.filePath(u"Images/"_s + picture));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            StopFlag never;
            PagePrefetcher direct(m_source, never, 1, 10);
            EXPECT_EQ(file.readAll(),
                direct.ReadHTML(
                    m_shop->imageBaseUrl() + p.value(u"picture_path"_s).toString(), {}, 10));
        }

        const QJsonObject properties = p.value(u"properties"_s).toObject();
        for (auto it = properties.begin(); it != properties.end(); ++it)
            EXPECT_EQ(sheet.cell(i, it.key()).text, it.value().toString())
                << it.key().toStdString();
    }
}

TEST_F(RunEndToEnd, SecondRunFindsEverythingStoredAndFetchesNoProductPage)
{
    const DemoShop::Options options;
    const int total = int(DemoShop::manifest(options).size());
    startShop(options);
    runExpectingReport();
    m_pages.clear();

    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown().back(), (ShownMessage { MessageStyle::Report, reportText(0) }));
    EXPECT_EQ(m_pages.productFetches(), 0);
    EXPECT_EQ(readWorkbook().productCount(), total);
    EXPECT_EQ(m_view.counterText(), QString::number(total + 1));
}

TEST_F(RunEndToEnd, ProductsAddedAtTheTopOfListingsAreAppendedOnce)
{
    DemoShop::Options options;
    startShop(options);
    runExpectingReport();
    const int before = readWorkbook().productCount();

    options.newProducts = 3;
    const QJsonArray grown = DemoShop::manifest(options);
    startShop(options);
    m_pages.clear();
    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown().back(), (ShownMessage { MessageStyle::Report, reportText(3) }));
    EXPECT_EQ(m_pages.productFetches(), 3);
    const QStringList stored = readWorkbook().orderNumbers();
    EXPECT_EQ(stored.size(), before + 3);
    QSet<QString> expected;
    for (const QJsonValue& p : grown)
        expected.insert(p.toObject().value(u"order_number"_s).toString());
    EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()), expected);
    EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()).size(), stored.size())
        << "duplicate rows";
}

TEST_F(RunEndToEnd, StopConfirmedDuringTheCrawlKeepsTheRowsWritten)
{
    startShop({});
    int productPages = 0;
    m_pages.setAfterFetch([&](const QString& url) {
        if (url.contains(u"/product/"_s) && ++productPages == 5)
            m_controller->Command1_Click(); // the click that arrives while the page loads
    });
    m_dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_state.NewCount, 4);
    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::StopQuestion, u"Остановить парсерсер?"_s },
            { MessageStyle::Failure, u"Парсер остановлен."_s },
            { MessageStyle::Report, reportText(4) } }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::Stopped);
    EXPECT_EQ(readWorkbook().productCount(), 4);
    EXPECT_EQ(m_handedOver, QStringList { workbookPath() });
    expectIdle();
}

TEST_F(RunEndToEnd, StopConfirmedWhileTheFirstPageLoadsSavesAnEmptyWorkbook)
{
    startShop({});
    m_pages.setAfterFetch([&](const QString& url) {
        if (url.endsWith(RunController::FirstListingPath))
            m_controller->Command1_Click();
    });
    m_dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown().size(), 3u);
    EXPECT_EQ(m_dialogs.shown().back(), (ShownMessage { MessageStyle::Report, reportText(0) }));
    EXPECT_EQ(m_pages.productFetches(), 0);
    EXPECT_EQ(readWorkbook().productCount(), 0);
    expectIdle();
}

// The stop arrives while the shop still holds the first page back: the fetch
// ends empty, but that is the user's stop, not a site that cannot be reached.
TEST_F(RunEndToEnd, StopConfirmedBeforeTheFirstPageArrivesIsAStop)
{
    DemoShop::Options options;
    options.latencyMs = 1500;
    startShop(options);
    QTimer::singleShot(150, [this] { m_controller->Command1_Click(); });
    m_dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::StopQuestion, u"Остановить парсерсер?"_s },
            { MessageStyle::Failure, u"Парсер остановлен."_s },
            { MessageStyle::Report, reportText(0) } }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::Stopped);
    EXPECT_TRUE(m_view.notLoaded.isEmpty());
    EXPECT_TRUE(QDir(m_folder.path()).isEmpty());
    EXPECT_TRUE(m_handedOver.isEmpty());
    expectIdle();
}

TEST_F(RunEndToEnd, DeclinedRetryStopsTheRunAfterSaving)
{
    DemoShop::Options options;
    const QJsonArray products = DemoShop::manifest(options);
    options.extra = { u"--fail-path"_s, products.at(2).toObject().value(u"path"_s).toString() };
    startShop(options);
    m_dialogs.answer(MessageAnswer::No).answer(MessageAnswer::Ok);

    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            { MessageStyle::RetryPrompt, u"Нет доступа к сайту.\rПопробовать еще раз?"_s },
            { MessageStyle::Failure, u"Парсер остановлен."_s },
            { MessageStyle::Report, reportText(2) } }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::Stopped);
    EXPECT_EQ(readWorkbook().productCount(), 2);
    expectIdle();
}

TEST_F(RunEndToEnd, RetryAnsweredYesFetchesThePageAgain)
{
    DemoShop::Options options;
    const QJsonArray products = DemoShop::manifest(options);
    options.extra = { u"--fail-path"_s, products.at(1).toObject().value(u"path"_s).toString(),
        u"--fail-times"_s, u"1"_s };
    startShop(options);
    m_dialogs.answer(MessageAnswer::Yes);

    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_EQ(m_dialogs.shown().back(),
        (ShownMessage { MessageStyle::Report, reportText(int(products.size())) }));
    EXPECT_EQ(readWorkbook().orderNumbers().size(), products.size());
}

TEST_F(RunEndToEnd, UnreachableSiteLeavesTheFolderUntouched)
{
    makeController({ u"http://127.0.0.1:1"_s, u"http://127.0.0.1:1/picture"_s, m_folder.path() });
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Failure, u"Нет доступа к сайту."_s } }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::NoSiteAccess);
    EXPECT_TRUE(QDir(m_folder.path()).isEmpty());
    EXPECT_TRUE(m_handedOver.isEmpty());
    expectIdle();
}

TEST_F(RunEndToEnd, WorkbookFailingTheLayoutCheckIsLeftUnchanged)
{
    {
        auto book = WorkbookLayout::create(m_folder.path());
        ASSERT_TRUE(book) << book.error().toStdString();
        ASSERT_TRUE(book->writeCell(1, 3, u"lisätarvikkeet"_s));
        ASSERT_TRUE(book->save());
    }
    const QByteArray before = fileHash(workbookPath());
    startShop({});
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            { MessageStyle::Failure, WorkbookLayout::WrongFormatMessage } }));
    EXPECT_EQ(fileHash(workbookPath()), before);
    EXPECT_EQ(m_pages.productFetches(), 0);
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
    EXPECT_EQ(m_handedOver, QStringList { workbookPath() });
    expectIdle();
}

TEST_F(RunEndToEnd, OldXlsAloneIsNamedAndLeftAlone)
{
    const QString path = m_folder.filePath(u"zavrinello.XLS"_s);
    {
        QFile legacy(path);
        ASSERT_TRUE(legacy.open(QIODevice::WriteOnly));
        legacy.write(QByteArrayLiteral("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 not a zip package"));
    }
    const QByteArray before = fileHash(path);
    startShop({});
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].style, MessageStyle::Failure);
    EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(u"Файл "_s + QDir::toNativeSeparators(path)
        + u" сохранён в старом формате Excel (.xls)"_s));
    EXPECT_EQ(fileHash(path), before);
    EXPECT_FALSE(QFile::exists(workbookPath()));
    EXPECT_TRUE(m_handedOver.isEmpty());
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
    expectIdle();
}

TEST_F(RunEndToEnd, OldXlsBesideTheWorkbookIsPassedOver)
{
    startShop({});
    runExpectingReport();
    const int stored = readWorkbook().productCount();
    QFile legacy(m_folder.filePath(u"Zavrinello.xls"_s));
    ASSERT_TRUE(legacy.open(QIODevice::WriteOnly));
    legacy.write(QByteArrayLiteral("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
    legacy.close();

    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown().back(), (ShownMessage { MessageStyle::Report, reportText(0) }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::Completed);
    EXPECT_EQ(readWorkbook().productCount(), stored);
}

// A shop template without the order number, then new products listed first:
// no cell an earlier run stored changes, and nothing is written twice.
TEST_F(RunEndToEnd, RerunNeverAltersStoredCellsOfAProductWithoutOrderNumber)
{
    DemoShop::Options options;
    const QJsonArray products = DemoShop::manifest(options);
    ASSERT_GE(products.size(), 3);
    const QString hidden = products.at(1).toObject().value(u"order_number"_s).toString();
    options.extra = QStringList { u"--hide-order-number"_s, hidden };
    startShop(options);
    runExpectingReport();
    const WorkbookRows first = readWorkbook();
    ASSERT_EQ(first.productCount(), products.size());
    ASSERT_EQ(first.cell(1, 1).text, first.cell(1, 1).link); // the page, for want of a number

    // The same shop address: a product without order number is known by its link.
    options.newProducts = 2;
    options.port = m_shop->port();
    m_shop->stop();
    startShop(options);
    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown().back(), (ShownMessage { MessageStyle::Report, reportText(2) }));
    const WorkbookRows second = readWorkbook();
    ASSERT_EQ(second.productCount(), first.productCount() + 2);
    EXPECT_EQ(second.header().mid(0, first.header().size()), first.header());
    for (int row = 0; row < first.productCount(); ++row) {
        for (int column = 1; column <= first.header().size(); ++column) {
            SCOPED_TRACE(testing::Message() << "row " << row + 2 << " column " << column);
            EXPECT_EQ(second.cell(row, column).text, first.cell(row, column).text);
            EXPECT_EQ(second.cell(row, column).link, first.cell(row, column).link);
        }
    }
}

TEST_F(RunEndToEnd, WorkbookOpenInLibreOfficeIsLeftAloneWhenTheUserSaysNo)
{
    startShop({});
    runExpectingReport();
    const QByteArray before = fileHash(workbookPath());
    QFile lock(m_folder.filePath(u".~lock.Zavrinello.xlsx#"_s));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("Ivan Petrov,ivan,desk7,07.12.2026 10:00,file:///home/ivan/.config/libreoffice/4;");
    lock.close();
    m_dialogs.clearShown();
    m_handedOver.clear();
    m_dialogs.answer(MessageAnswer::No);

    m_controller->Command1_Click();

    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].style, MessageStyle::Question);
    EXPECT_EQ(m_dialogs.shown()[0].text,
        u"Файл "_s + QDir::toNativeSeparators(workbookPath())
            + u" открыт в другой программе (LibreOffice, пользователь Ivan Petrov на компьютере "
              u"desk7).\rЕсли она потом сохранит его, новые строки пропадут.\rПродолжить?"_s);
    EXPECT_EQ(fileHash(workbookPath()), before);
    EXPECT_TRUE(m_handedOver.isEmpty());
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
    expectIdle();
}

TEST_F(RunEndToEnd, UnwritableFolderIsFoundBeforeTheCrawl)
{
    startShop({});
    runExpectingReport();
    // Something in the way of the save's temporary file: no save can succeed.
    ASSERT_TRUE(QDir(m_folder.path()).mkdir(u".~Zavrinello.xlsx.saving"_s));
    const QByteArray before = fileHash(workbookPath());
    m_dialogs.clearShown();
    m_pages.clear();
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].text,
        u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(workbookPath())
            + u": запись в папку "_s + QDir::toNativeSeparators(m_folder.path())
            + u" невозможна."_s);
    EXPECT_EQ(m_dialogs.reasons(),
        QStringList { u"Причина: cannot create "_s
            + m_folder.filePath(u".~Zavrinello.xlsx.saving"_s) + u": "_s
            + QString::fromLocal8Bit(std::strerror(EISDIR)) });
    EXPECT_EQ(m_pages.productFetches(), 0);
    EXPECT_EQ(fileHash(workbookPath()), before);
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
}

// A picture missing from Images/ is fetched again from the stored products'
// pages, in crawl order: where two share its name and the first address
// gives too little, the second one's picture is kept.
struct MissingPictureCase {
    const char* name;
    QStringList shopOptions;
    QString picture; // empty: the first row's
    int productFetches;
    int refusedAddresses; // counted by the report: the first of a shared name
};

class MissingPictureTest : public RunEndToEnd,
                           public ::testing::WithParamInterface<MissingPictureCase> { };

TEST_P(MissingPictureTest, IsFetchedAgainFromTheStoredProductsPages)
{
    const MissingPictureCase& c = GetParam();
    DemoShop::Options options;
    options.extra = c.shopOptions;
    startShop(options);
    runExpectingReport();
    const WorkbookRows first = readWorkbook();
    QString picture = c.picture;
    for (int row = 0; row < first.productCount() && picture.isEmpty(); ++row)
        picture = first.cell(row, 14).text;
    ASSERT_FALSE(picture.isEmpty());
    const QString path = m_folder.filePath(u"Images/"_s + picture);
    const QByteArray whole = fileHash(path);
    ASSERT_FALSE(whole.isEmpty());
    ASSERT_TRUE(QFile::remove(path));
    const QByteArray workbookBefore = fileHash(workbookPath());
    m_pages.clear();

    runExpectingReport();

    EXPECT_EQ(m_dialogs.shown().back(),
        (ShownMessage { MessageStyle::Report, reportText(0, c.refusedAddresses) }));
    EXPECT_EQ(m_pages.productFetches(), c.productFetches);
    EXPECT_EQ(fileHash(path), whole);
    EXPECT_EQ(readWorkbook().productCount(), first.productCount());
    EXPECT_EQ(fileHash(workbookPath()), workbookBefore);
}

INSTANTIATE_TEST_SUITE_P(RunEndToEnd, MissingPictureTest,
    ::testing::Values(MissingPictureCase { "OwnName", {}, {}, 1, 0 },
        MissingPictureCase {
            "SharedNameFirstTooShort", { u"--shared-picture-name"_s }, u"uusinta.png"_s, 2, 1 }),
    [](const ::testing::TestParamInfo<MissingPictureCase>& info) { return info.param.name; });

TEST_F(RunEndToEnd, ImagesThatIsAFileStopsTheRunBeforeTheCrawl)
{
    QFile images(m_folder.filePath(u"Images"_s));
    ASSERT_TRUE(images.open(QIODevice::WriteOnly));
    images.close();
    startShop({});
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown().front(),
        (ShownMessage { MessageStyle::Failure,
            u"Не удалось сохранить картинки: "_s
                + QDir::toNativeSeparators(m_folder.filePath(u"Images"_s))
                + u" — это не папка."_s }));
    EXPECT_EQ(m_pages.productFetches(), 0);
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
}

// The periodic save fails: the crawl ends at once and the report counts
// only what is in the file.
TEST_F(RunEndToEnd, FailedPeriodicSaveEndsTheCrawlAndTheReportCountsOnlySavedRows)
{
    DemoShop::Options options;
    options.products = 130;
    startShop(options);
    const QString blocker = m_folder.filePath(u".~Zavrinello.xlsx.saving"_s);
    m_pages.setAfterFetch([&](const QString& url) {
        if (url.contains(u"/product/"_s) && !QFileInfo::exists(blocker))
            QDir().mkdir(blocker); // after the trial save, before the 100th product
    });
    m_dialogs.answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            { MessageStyle::Failure,
                u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(workbookPath()) + u'.' },
            { MessageStyle::Report, reportText(0) } }));
    // The periodic save's own reason, not one of a later save.
    EXPECT_EQ(m_dialogs.reasons(),
        QStringList { u"Причина: cannot create "_s + blocker + u": "_s
            + QString::fromLocal8Bit(std::strerror(EISDIR)) });
    EXPECT_EQ(m_pages.productFetches(), 100);
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
    QDir().rmdir(blocker);
    EXPECT_EQ(readWorkbook().productCount(), 0);
}

TEST_F(RunEndToEnd, WorkbookThatIsAFolderIsNamedAsSuch)
{
    ASSERT_TRUE(QDir(m_folder.path()).mkdir(u"Zavrinello.xlsx"_s));
    startShop({});
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Failure,
            u"Не удалось открыть файл "_s + QDir::toNativeSeparators(workbookPath())
                + u": это папка, а не файл."_s } }));
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
}

TEST_F(RunEndToEnd, SheetWithoutAFreeRowStopsTheRunBeforeTheCrawl)
{
    {
        auto layout = WorkbookLayout::create(m_folder.path());
        ASSERT_TRUE(layout) << layout.error().toStdString();
        ASSERT_TRUE(layout->writeCell(CatalogSheet::MaxRow, 2, u"last row"_s));
        ASSERT_TRUE(layout->save());
    }
    const QByteArray before = fileHash(workbookPath());
    startShop({});
    m_dialogs.answer(MessageAnswer::Ok);

    m_controller->Command1_Click();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Failure,
            u"В файле "_s + QDir::toNativeSeparators(workbookPath())
                + u" нет свободных строк: лист заполнен до последней строки 1048576."_s } }));
    EXPECT_EQ(m_pages.productFetches(), 0);
    EXPECT_EQ(fileHash(workbookPath()), before);
    EXPECT_EQ(m_controller->lastOutcome(), RunOutcome::WorkbookUnusable);
}

} // namespace
} // namespace zp::test
