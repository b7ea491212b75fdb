// A hand-written product page served from loopback becomes a workbook row:
// the real page fetcher, UTF-8 decoding, product extraction, file downloader
// and workbook, read back through openpyxl.

#include "WorkbookRows.h"
#include "net/BackgroundDownloader.h"
#include "net/NetworkPageSource.h"
#include "net/PagePrefetcher.h"
#include "run/RunState.h"
#include "scrape/FakeRunView.h"
#include "scrape/ProductExtractor.h"
#include "support/ScriptedDialogs.h"
#include "support/TestHttpServer.h"
#include "util/Clock.h"
#include "util/PathUtils.h"
#include "util/Utf8.h"
#include "workbook/ExternalTools.h"
#include "workbook/WorkbookLayout.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

const QString ProductPath = u"/catalog/product/40200/ZV-18BL"_s;
const QString PicturePath = u"/picture/normal/ZV-18BL.png"_s;

// A small real PNG: 24 x 24 pixels of a pattern that does not compress to
// almost nothing, so the file is well over the 256-byte minimum.
QByteArray pictureBytes()
{
    QImage image(24, 24, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * y * 7) % 256, (y * 53) % 256));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ProductRow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ExternalTools::python().isEmpty())
            GTEST_SKIP()
                << "python3 with openpyxl is not installed (scripts/install-deps installs it)";
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_TRUE(m_server.listen());

        // The shop's page as written by hand, its picture moved to this
        // server and made a PNG.
        QByteArray page = readFile(QStringLiteral(ZP_TEST_DATA_DIR "/scrape/product_page.html"));
        ASSERT_FALSE(page.isEmpty());
        page.replace("https://images.tolmari.example/picture", imageBaseUrl().toUtf8());
        page.replace("normal/ZV-18BL.jpg", "normal/ZV-18BL.png");
        ASSERT_TRUE(
            page.contains((u"<img src=\""_s + imageBaseUrl() + u"/normal/ZV-18BL.png"_s).toUtf8()));
        m_page = page;
        m_server.route(ProductPath.toUtf8(), TestHttpServer::Response::ok(m_page));

        m_picture = pictureBytes();
        ASSERT_GT(m_picture.size(), ProductExtractor::PictureMinimumSize);
        ASSERT_TRUE(m_picture.startsWith("\x89PNG\r\n\x1a\n"));
        m_server.route(PicturePath.toUtf8(), TestHttpServer::Response::ok(m_picture, "image/png"));

        auto created = WorkbookLayout::create(m_folder.path());
        ASSERT_TRUE(created) << created.error().toStdString();
        m_book = std::move(created).value();
        const QString images = m_folder.filePath(ProductExtractor::ImagesFolder);
        CreateDir(images); // as the run does before its crawl
        ASSERT_TRUE(DirExists(images));
        m_state.FixedColumnCount = WorkbookLayout::FixedColumnCount;
        m_state.NextRow = m_book->findNextRow();
        m_state.StartTime = m_clock.now();
        m_view.setCounterText(QString::number(m_state.NextRow - 1));
    }

    QString imageBaseUrl() const { return m_server.url(u"/picture"_s); }

    // Fetches the page at path as a run does and turns it into a row.
    void parseProductAt(const QString& path)
    {
        const QString url = m_server.baseUrl() + path;
        const QString text = UTF8ToUnicode(m_fetcher.ReadHTML(url, QString(), 10));
        ASSERT_FALSE(text.isEmpty()) << "no page at " << url.toStdString();
        const ScrapeContext context { m_state, *m_book, m_view, m_dialogs, m_fetcher, m_downloader,
            m_clock, m_server.baseUrl(), imageBaseUrl(), m_folder.path() };
        ProductExtractor(context).ParseProduct(text, url);
        m_downloader.waitForBackground();
    }

    WorkbookRows savedRows()
    {
        const Result<void> saved = m_book->save();
        EXPECT_TRUE(saved) << saved.error().toStdString();
        const auto rows = WorkbookRows::read(m_folder.filePath(WorkbookLayout::FileName));
        EXPECT_TRUE(rows.has_value());
        EXPECT_EQ(ExternalTools::xlsxProblems(m_folder.filePath(WorkbookLayout::FileName)),
            QStringList());
        return rows.value_or(WorkbookRows());
    }

    int pictureRequests() const
    {
        int count = 0;
        for (const TestHttpServer::Request& r : m_server.requests())
            count += r.path == PicturePath.toUtf8();
        return count;
    }

    QTemporaryDir m_folder;
    TestHttpServer m_server;
    QByteArray m_page;
    QByteArray m_picture;
    std::unique_ptr<WorkbookLayout> m_book;
    RunState m_state;
    FakeRunView m_view;
    ScriptedDialogs m_dialogs;
    SystemClock m_clock;
    NetworkPageSource m_source { 1 };
    PagePrefetcher m_fetcher { m_source, m_state.StopRequested, 1, 60 };
    BackgroundDownloader m_downloader { m_state.StopRequested, 1 };
};

const QStringList PropertyHeaders { u"Jännite"_s, u"Istukka"_s, u"Vääntömomentti"_s, u"Paino"_s,
    u"Takuu"_s };

TEST_F(ProductRow, HandWrittenProductPageBecomesARowWithLinksPropertiesAndPicture)
{
    parseProductAt(ProductPath);

    const WorkbookRows sheet = savedRows();
    ASSERT_EQ(sheet.productCount(), 1);
    EXPECT_EQ(sheet.header(), WorkbookLayout::fixedHeaders() + PropertyHeaders);

    const QString base = m_server.baseUrl();
    EXPECT_EQ(sheet.cell(0, 1).text, u"ZV-18BL"_s);
    EXPECT_EQ(sheet.cell(0, 1).link, base + ProductPath);
    EXPECT_EQ(sheet.cell(0, 2).text,
        u"Tehokas ja kevyt hiiliharjaton akkuporakone ammattikäyttöön.<br />\n"
        u"Kaksi vaihdetta, 21+1 momenttiasetusta &amp; LED-valo."_s);
    EXPECT_EQ(sheet.cell(0, 3).text,
        u"Akku ZV-B20 18 V 2,0 Ah, Akku ZV-B50 18 V 5,0 Ah, Pikalaturi ZV-C18"_s);
    EXPECT_EQ(sheet.cell(0, 3).link, QString());

    const QStringList categories { u"Zavrinello"_s, u"Sähkötyökalut"_s,
        u"Porakoneet &amp; ruuvinvääntimet"_s };
    const QStringList categoryLinks { u"/catalog/3833/Zavrinello"_s,
        u"/catalog/3841/S%C3%A4hk%C3%B6ty%C3%B6kalut"_s, u"/catalog/3857/Porakoneet"_s };
    for (int c = 0; c < 10; ++c) {
        SCOPED_TRACE(c);
        const SheetCell cell = sheet.cell(0, ProductExtractor::FirstCategoryColumn + c);
        EXPECT_EQ(cell.text, c < categories.size() ? categories.at(c) : QString());
        EXPECT_EQ(cell.link, c < categoryLinks.size() ? base + categoryLinks.at(c) : QString());
    }

    EXPECT_EQ(sheet.cell(0, 14).text, u"ZV-18BL.png"_s);
    EXPECT_EQ(sheet.cell(0, 14).link, u"Images/ZV-18BL.png"_s);

    EXPECT_EQ(sheet.cell(0, u"Jännite"_s).text, u"18 V"_s);
    EXPECT_EQ(sheet.cell(0, u"Istukka"_s).text, u"1,5–13 mm"_s);
    EXPECT_EQ(sheet.cell(0, u"Vääntömomentti"_s).text, u"60 Nm"_s);
    EXPECT_EQ(sheet.cell(0, u"Paino"_s).text, u"1,6 kg (akun kanssa)"_s);
    // Its value cell is <td class="note">; the next "<td>" is too far away.
    EXPECT_EQ(sheet.cell(0, u"Takuu"_s).text, QString());

    const QDir images(m_folder.filePath(ProductExtractor::ImagesFolder));
    EXPECT_EQ(images.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { u"ZV-18BL.png"_s });
    EXPECT_EQ(readFile(images.filePath(u"ZV-18BL.png"_s)), m_picture);
    ASSERT_EQ(pictureRequests(), 1);
    for (const TestHttpServer::Request& r : m_server.requests()) {
        if (r.path == PicturePath.toUtf8()) {
            EXPECT_EQ(r.userAgent, "VB OpenUrl");
        }
    }

    EXPECT_EQ(m_state.NewCount, 1);
    EXPECT_EQ(m_state.NextRow, 3);
    EXPECT_EQ(m_view.counterText(), u"2"_s);
    EXPECT_TRUE(m_dialogs.shown().empty());
}

// A second product of the same picture and properties, one property more:
// the columns of the first row are found again, one is added, and the picture
// already on disk is not fetched again.
TEST_F(ProductRow, NextProductReusesPropertyColumnsAndThePictureOnDisk)
{
    QByteArray sibling = m_page;
    sibling.replace("<td>ZV-18BL</td>", "<td>ZV-18BL-K</td>");
    sibling.replace("<td>60 Nm</td>", "<td>65 Nm</td>");
    sibling.replace("\t<th width=\"30%\">Takuu</th>",
        "\t<th width=\"30%\">Äänitaso</th>\n\t<td>82 dB(A)</td>\n</tr>\n<tr>\n"
        "\t<th width=\"30%\">Takuu</th>");
    ASSERT_TRUE(sibling.contains("Äänitaso"));
    const QString siblingPath = u"/catalog/product/40201/ZV-18BL-K"_s;
    m_server.route(siblingPath.toUtf8(), TestHttpServer::Response::ok(sibling));

    parseProductAt(ProductPath);
    parseProductAt(siblingPath);

    const WorkbookRows sheet = savedRows();
    ASSERT_EQ(sheet.productCount(), 2);
    EXPECT_EQ(sheet.header(),
        WorkbookLayout::fixedHeaders() + PropertyHeaders + QStringList { u"Äänitaso"_s });
    EXPECT_EQ(sheet.orderNumbers(), (QStringList { u"ZV-18BL"_s, u"ZV-18BL-K"_s }));
    EXPECT_EQ(sheet.cell(1, 1).link, m_server.baseUrl() + siblingPath);
    EXPECT_EQ(sheet.cell(0, u"Vääntömomentti"_s).text, u"60 Nm"_s);
    EXPECT_EQ(sheet.cell(1, u"Vääntömomentti"_s).text, u"65 Nm"_s);
    EXPECT_EQ(sheet.cell(0, u"Äänitaso"_s).text, QString());
    EXPECT_EQ(sheet.cell(1, u"Äänitaso"_s).text, u"82 dB(A)"_s);
    EXPECT_EQ(sheet.cell(1, u"Jännite"_s).text, u"18 V"_s);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(sheet.cell(row, 14).text, u"ZV-18BL.png"_s);
        EXPECT_EQ(sheet.cell(row, 14).link, u"Images/ZV-18BL.png"_s);
    }
    EXPECT_EQ(pictureRequests(), 1);
    EXPECT_EQ(readFile(m_folder.filePath(u"Images/ZV-18BL.png"_s)), m_picture);
    EXPECT_EQ(m_view.counterText(), u"3"_s);
}

} // namespace
} // namespace zp::test
