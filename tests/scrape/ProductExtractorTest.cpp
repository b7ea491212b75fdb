#include "scrape/ProductExtractor.h"

#include "PageParts.h"
#include "ScrapeFixture.h"
#include "scrape/RowPictures.h"
#include "util/Utf8.h"
#include "xlsx/CellText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <functional>
#include <ostream>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

const QString ProductUrl = TestCatalogBaseUrl + u"/catalog/product/40100/ZV-1"_s;
const QList<page::Link> ThreeCategories = { { u"/catalog/3833/Zavrinello"_s, u"Zavrinello"_s },
    { u"/catalog/3841/Sahkotyokalut"_s, u"Sähkötyökalut"_s },
    { u"/catalog/3857/Porakoneet"_s, u"Porakoneet"_s } };

class ProductExtractorTest : public ScrapeFixture {
protected:
    void parse(const QString& pageText, const QString& url = ProductUrl)
    {
        ProductExtractor extractor(context());
        extractor.ParseProduct(pageText, url);
    }

    // A complete product page: breadcrumb, picture, order number, description,
    // properties and accessories, in the shop's order.
    static QString fullPage(const QList<page::Link>& categories = ThreeCategories)
    {
        return page::head() + page::breadcrumb(categories) + page::picture(u"/normal/ZV-1.jpg"_s)
            + page::orderNumber(u"ZV-1"_s) + page::description(u"Kevyt porakone."_s)
            + page::propertiesTable(page::property(u"Jännite"_s, u"18 V"_s))
            + page::productTable({ { u"/catalog/product/40211/ZV-B20"_s, u"Akku ZV-B20"_s } })
            + page::tail();
    }
};

TEST_F(ProductExtractorTest, RealisticPageBecomesOneRow)
{
    QFile file(QStringLiteral(ZP_TEST_DATA_DIR) + u"/scrape/product_page.html"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString pageText = UTF8ToUnicode(file.readAll());
    const QString url = TestCatalogBaseUrl + u"/catalog/product/40200/ZV-18BL"_s;

    parse(pageText, url);

    const int row = FirstRow;
    EXPECT_EQ(sheet.text(row, 1), u"ZV-18BL"_s);
    EXPECT_EQ(sheet.link(row, 1), url);
    EXPECT_EQ(sheet.text(row, 2),
        u"Tehokas ja kevyt hiiliharjaton akkuporakone ammattikäyttöön.<br />\n"
        u"Kaksi vaihdetta, 21+1 momenttiasetusta &amp; LED-valo."_s);
    EXPECT_EQ(sheet.text(row, 3),
        u"Akku ZV-B20 18 V 2,0 Ah, Akku ZV-B50 18 V 5,0 Ah, Pikalaturi ZV-C18"_s);
    EXPECT_EQ(sheet.text(row, 4), u"Zavrinello"_s);
    EXPECT_EQ(sheet.link(row, 4), TestCatalogBaseUrl + u"/catalog/3833/Zavrinello"_s);
    EXPECT_EQ(sheet.text(row, 5), u"Sähkötyökalut"_s);
    EXPECT_EQ(
        sheet.link(row, 5), TestCatalogBaseUrl + u"/catalog/3841/S%C3%A4hk%C3%B6ty%C3%B6kalut"_s);
    EXPECT_EQ(sheet.text(row, 6), u"Porakoneet &amp; ruuvinvääntimet"_s);
    EXPECT_EQ(sheet.link(row, 6), TestCatalogBaseUrl + u"/catalog/3857/Porakoneet"_s);
    EXPECT_EQ(sheet.text(row, 14), u"ZV-18BL.jpg"_s);
    EXPECT_EQ(sheet.link(row, 14), u"Images/ZV-18BL.jpg"_s);

    EXPECT_EQ(sheet.propertyLookups(),
        (QStringList { u"Jännite"_s, u"Istukka"_s, u"Vääntömomentti"_s, u"Paino"_s, u"Takuu"_s }));
    EXPECT_EQ(sheet.text(row, sheet.columnOf(u"Jännite"_s)), u"18 V"_s);
    EXPECT_EQ(sheet.text(row, sheet.columnOf(u"Istukka"_s)), u"1,5–13 mm"_s);
    EXPECT_EQ(sheet.text(row, sheet.columnOf(u"Vääntömomentti"_s)), u"60 Nm"_s);
    EXPECT_EQ(sheet.text(row, sheet.columnOf(u"Paino"_s)), u"1,6 kg (akun kanssa)"_s);
    // Takuu's value cell is <td class="note">: the next "<td>" is far away.
    ASSERT_NE(sheet.columnOf(u"Takuu"_s), 0);
    EXPECT_FALSE(sheet.hasCell(row, sheet.columnOf(u"Takuu"_s)));
    EXPECT_EQ(sheet.columnsOf(row), (QList<int> { 1, 2, 3, 4, 5, 6, 14, 15, 16, 17, 18 }));

    ASSERT_EQ(downloader.calls().size(), 1);
    const FakeDownloader::Call& call = downloader.calls().first();
    EXPECT_EQ(call.url, TestImageBaseUrl + u"/normal/ZV-18BL.jpg"_s);
    EXPECT_EQ(call.localPath, imagesPath(u"ZV-18BL.jpg"_s));
    EXPECT_EQ(call.observer, nullptr);
    EXPECT_EQ(call.minimumSize, 256);
    EXPECT_EQ(call.progressInterval, 0.3);

    const QString path = u"Zavrinello/Sähkötyökalut/Porakoneet &amp; ruuvinvääntimet/"_s;
    EXPECT_EQ(
        view.statusTexts(), (QStringList { path + u"ZV-18BL.jpg..."_s, path + u"ZV-18BL..."_s }));
    EXPECT_EQ(state.NextRow, FirstRow + 1);
    EXPECT_EQ(state.NewCount, 1);
    EXPECT_EQ(view.elapsedText(), u"01:02:05"_s);
    EXPECT_EQ(view.counterText(), u"1"_s);
    EXPECT_EQ(sheet.saveCount(), 0);
}

TEST_F(ProductExtractorTest, WithoutOrderNumberMarkerColumnOneShowsThePageAndLinksToIt)
{
    parse(page::head() + page::breadcrumb(ThreeCategories) + page::description(u"Kuvaus"_s)
        + page::tail());

    EXPECT_EQ(sheet.text(FirstRow, 1), ProductUrl);
    EXPECT_EQ(sheet.link(FirstRow, 1), ProductUrl);
    EXPECT_EQ(sheet.text(FirstRow, 2), u"Kuvaus"_s);
    EXPECT_EQ(state.NextRow, FirstRow + 1);
}

TEST_F(ProductExtractorTest, ThreeCategoriesFillColumnsFourToSixWithLinks)
{
    parse(fullPage());

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sheet.text(FirstRow, 4 + i), ThreeCategories[i].second);
        EXPECT_EQ(sheet.link(FirstRow, 4 + i), TestCatalogBaseUrl + ThreeCategories[i].first);
    }
    EXPECT_FALSE(sheet.hasCell(FirstRow, 7));
    EXPECT_EQ(view.statusTexts().last(), u"Zavrinello/Sähkötyökalut/Porakoneet/ZV-1..."_s);
}

TEST_F(ProductExtractorTest, WithoutBreadcrumbNoCategoryIsWritten)
{
    parse(page::head() + page::picture(u"/normal/ZV-1.jpg"_s) + page::orderNumber(u"ZV-1"_s)
        + page::tail());

    for (int column = 4; column <= 13; ++column)
        EXPECT_FALSE(sheet.hasCell(FirstRow, column)) << column;
    EXPECT_EQ(sheet.text(FirstRow, 14), u"ZV-1.jpg"_s);
    EXPECT_EQ(view.statusTexts(), (QStringList { u"ZV-1.jpg..."_s, u"ZV-1..."_s }));
}

TEST_F(ProductExtractorTest, EmptyCategoryNameEndsTheCategoryWalk)
{
    parse(page::head()
        + page::breadcrumb({ { u"/catalog/1/A"_s, u"Aa"_s }, { u"/catalog/2/B"_s, QString() },
            { u"/catalog/3/C"_s, u"Cc"_s } })
        + page::orderNumber(u"ZV-1"_s) + page::tail());

    EXPECT_EQ(sheet.text(FirstRow, 4), u"Aa"_s);
    EXPECT_FALSE(sheet.hasCell(FirstRow, 5));
    EXPECT_FALSE(sheet.hasCell(FirstRow, 6));
    EXPECT_EQ(view.statusTexts(), QStringList { u"Aa/ZV-1..."_s });
}

TEST_F(ProductExtractorTest, CategoriesAfterTheTenthStayOutOfTheCells)
{
    QList<page::Link> categories;
    QString path;
    for (int i = 1; i <= 12; ++i) {
        categories.append({ u"/catalog/%1/K"_s.arg(i), u"K%1"_s.arg(i) });
        path += u"K%1/"_s.arg(i);
    }
    parse(fullPage(categories));

    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(sheet.text(FirstRow, 3 + i), u"K%1"_s.arg(i));
        EXPECT_EQ(sheet.link(FirstRow, 3 + i), TestCatalogBaseUrl + u"/catalog/%1/K"_s.arg(i));
    }
    EXPECT_EQ(sheet.text(FirstRow, 14), u"ZV-1.jpg"_s);
    EXPECT_EQ(sheet.link(FirstRow, 14), u"Images/ZV-1.jpg"_s);
    EXPECT_EQ(sheet.writeOrder().count({ FirstRow, 14 }), 1);
    EXPECT_EQ(
        sheet.linkedColumnsOf(FirstRow), (QList<int> { 1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 }));
    EXPECT_EQ(sheet.text(FirstRow, 15), u"18 V"_s);
    EXPECT_EQ(view.statusTexts(), (QStringList { path + u"ZV-1.jpg..."_s, path + u"ZV-1..."_s }));
}

// The picture is looked for from the position the breadcrumb walk left, a
// position inside the breadcrumb block applied to the whole page.
TEST_F(ProductExtractorTest, PictureSearchStartsAtTheBreadcrumbRelativePosition)
{
    const QString early = page::picture(u"/early/EARLY.jpg"_s);
    const QString rest
        = page::picture(u"/normal/ZV-1.jpg"_s) + page::orderNumber(u"ZV-1"_s) + page::tail();
    const QString shortCrumb
        = page::breadcrumb({ { u"/catalog/3833/Zavrinello"_s, u"Zavrinello"_s } });

    parse(early + shortCrumb + rest);
    EXPECT_EQ(sheet.text(FirstRow, 14), u"ZV-1.jpg"_s);

    parse(early + rest);
    EXPECT_EQ(sheet.text(FirstRow + 1, 14), u"EARLY.jpg"_s);
}

TEST_F(ProductExtractorTest, DescriptionIsSearchedFromWherePictureStopped)
{
    const QString descriptionFirst = page::head() + page::breadcrumb(ThreeCategories)
        + page::description(u"Kuvaus ennen kuvaa"_s);
    const QString after = page::orderNumber(u"ZV-1"_s) + page::tail();

    parse(descriptionFirst + page::picture(u"/normal/ZV-1.jpg"_s) + after);
    EXPECT_TRUE(sheet.hasCell(FirstRow, 2));
    EXPECT_EQ(sheet.text(FirstRow, 2), QString());

    parse(descriptionFirst + after);
    EXPECT_EQ(sheet.text(FirstRow + 1, 2), u"Kuvaus ennen kuvaa"_s);
    EXPECT_FALSE(sheet.hasCell(FirstRow + 1, 14));
    EXPECT_FALSE(sheet.hasLink(FirstRow + 1, 14));
}

TEST_F(ProductExtractorTest, PicturePresentIsNotFetchedAgainButStillWritten)
{
    QFile existing(imagesPath(u"ZV-1.jpg"_s));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old picture");
    existing.close();

    parse(fullPage());

    EXPECT_TRUE(downloader.calls().isEmpty());
    EXPECT_EQ(view.statusTexts(), QStringList { u"Zavrinello/Sähkötyökalut/Porakoneet/ZV-1..."_s });
    EXPECT_EQ(sheet.text(FirstRow, 14), u"ZV-1.jpg"_s);
    EXPECT_EQ(sheet.link(FirstRow, 14), u"Images/ZV-1.jpg"_s);
}

TEST_F(ProductExtractorTest, SecondProductWithTheSamePictureFindsTheDownloadedFile)
{
    parse(fullPage());
    parse(fullPage());

    EXPECT_EQ(downloader.calls().size(), 1);
    EXPECT_TRUE(QFileInfo(imagesPath(u"ZV-1.jpg"_s)).isFile());
    EXPECT_EQ(sheet.link(FirstRow + 1, 14), u"Images/ZV-1.jpg"_s);
}

TEST_F(ProductExtractorTest, PictureAddressWithQueryIsNamedWithoutIt)
{
    parse(page::head() + page::picture(u"/normal/ZV-1.jpg?v=2#kuva"_s)
        + page::orderNumber(u"ZV-1"_s) + page::tail());

    ASSERT_EQ(downloader.calls().size(), 1);
    EXPECT_EQ(downloader.calls().first().url, TestImageBaseUrl + u"/normal/ZV-1.jpg?v=2#kuva"_s);
    EXPECT_EQ(downloader.calls().first().localPath, imagesPath(u"ZV-1.jpg"_s));
    EXPECT_EQ(sheet.text(FirstRow, 14), u"ZV-1.jpg"_s);
    EXPECT_EQ(sheet.link(FirstRow, 14), u"Images/ZV-1.jpg"_s);
}

// A picture that cannot be had is named and counted; the count tells whether
// the next run may have it.
TEST_F(ProductExtractorTest, FailedPicturesAreCountedAsRefusedOrPassing)
{
    const QString address = TestImageBaseUrl + u"/normal/ZV-1.jpg"_s;
    downloader.failWith(u"404"_s, false);
    parse(fullPage());
    downloader.failWith(u"503"_s, true);
    parse(fullPage());

    EXPECT_EQ(view.notLoaded, (QStringList { address + u": 404"_s, address + u": 503"_s }));
    EXPECT_EQ(state.MissingPictures, 2);
    EXPECT_EQ(state.PassingPictureFaults, 1);
    EXPECT_EQ(sheet.text(FirstRow + 1, 14), u"ZV-1.jpg"_s);
}

// A stored product's missing picture is fetched when the page still shows a
// picture of the stored name; a name stored with its query (by a version
// that kept it) is left as it is.
struct MissingPictureCase {
    const char* name;
    QString shownOnPage;
    QString stored;
    bool fetched;
};

class MissingPictureTest : public ProductExtractorTest,
                           public ::testing::WithParamInterface<MissingPictureCase> { };

TEST_P(MissingPictureTest, FetchedOnlyUnderTheStoredName)
{
    const MissingPictureCase& c = GetParam();
    ProductExtractor extractor(context());
    extractor.FetchMissingPicture(page::head() + page::breadcrumb(ThreeCategories)
            + page::picture(c.shownOnPage) + page::orderNumber(u"ZV-1"_s) + page::tail(),
        c.stored);

    if (c.fetched) {
        ASSERT_EQ(downloader.calls().size(), 1);
        EXPECT_EQ(downloader.calls().first().url, TestImageBaseUrl + c.shownOnPage);
        EXPECT_EQ(downloader.calls().first().localPath, imagesPath(c.stored));
    } else {
        EXPECT_TRUE(downloader.calls().isEmpty());
    }
    EXPECT_EQ(state.NextRow, FirstRow);
    EXPECT_FALSE(sheet.hasCell(FirstRow, 14));
}

INSTANTIATE_TEST_SUITE_P(Names, MissingPictureTest,
    ::testing::Values(MissingPictureCase { "SameName", u"/normal/ZV-1.jpg"_s, u"ZV-1.jpg"_s, true },
        MissingPictureCase { "NewQuery", u"/normal/ZV-1.jpg?v=3"_s, u"ZV-1.jpg"_s, true },
        MissingPictureCase { "OtherName", u"/normal/ZV-2.jpg"_s, u"ZV-1.jpg"_s, false },
        MissingPictureCase {
            "StoredWithQuery", u"/normal/ZV-1.jpg?v=3"_s, u"ZV-1.jpg?v=3"_s, false },
        MissingPictureCase {
            "StoredWithOtherQuery", u"/normal/ZV-1.jpg?v=4"_s, u"ZV-1.jpg?v=3"_s, false }),
    [](const ::testing::TestParamInfo<MissingPictureCase>& info) {
        return std::string(info.param.name);
    });

struct UnsafePictureCase {
    const char* name;
    QString pathAfterBase;

    friend void PrintTo(const UnsafePictureCase& c, std::ostream* os) { *os << c.name; }
};

class UnsafePictureTest : public ProductExtractorTest,
                          public ::testing::WithParamInterface<UnsafePictureCase> { };

TEST_P(UnsafePictureTest, NameIsNeitherDownloadedNorWritten)
{
    parse(page::head() + page::breadcrumb(ThreeCategories) + page::picture(GetParam().pathAfterBase)
        + page::orderNumber(u"ZV-1"_s) + page::description(u"Kuvaus"_s) + page::tail());

    EXPECT_TRUE(downloader.calls().isEmpty());
    EXPECT_FALSE(sheet.hasCell(FirstRow, 14));
    EXPECT_FALSE(sheet.hasLink(FirstRow, 14));
    EXPECT_EQ(sheet.text(FirstRow, 2), u"Kuvaus"_s);
    EXPECT_EQ(view.statusTexts(), QStringList { u"Zavrinello/Sähkötyökalut/Porakoneet/ZV-1..."_s });
    EXPECT_EQ(
        QDir(programFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList { u"Images"_s });
    EXPECT_TRUE(QDir(programFolder() + u"/Images"_s)
                    .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_EQ(state.NewCount, 1);
    EXPECT_EQ(state.MissingPictures, 1);
    EXPECT_EQ(state.PassingPictureFaults, 0);
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafePictureTest,
    ::testing::Values(UnsafePictureCase { "Empty", u"/normal/"_s },
        UnsafePictureCase { "Dot", u"/normal/."_s },
        UnsafePictureCase { "DotDot", u"/normal/.."_s },
        UnsafePictureCase { "Backslashes", u"/normal/..\\..\\evil.jpg"_s },
        UnsafePictureCase { "ControlCharacter", u"/normal/ZV\x01.jpg"_s },
        UnsafePictureCase { "Tab", u"/normal/ZV\t1.jpg"_s },
        UnsafePictureCase { "RightToLeftOverride", u"/normal/ZV-1\u202Egpj.exe"_s },
        UnsafePictureCase { "Colon", u"/normal/ZV:1.jpg"_s },
        UnsafePictureCase { "WindowsDeviceName", u"/normal/con.jpg"_s },
        UnsafePictureCase { "TrailingDot", u"/normal/ZV-1.jpg."_s }),
    [](const ::testing::TestParamInfo<UnsafePictureCase>& info) {
        return std::string(info.param.name);
    });

// An unusable picture name changes nothing else: the page is read on from
// behind the picture address, as for any other picture.
TEST_F(ProductExtractorTest, UnsafePictureStillMovesTheSearchPosition)
{
    parse(page::head() + page::breadcrumb(ThreeCategories)
        + page::description(u"Kuvaus ennen kuvaa"_s) + page::picture(u"/normal/.."_s)
        + page::orderNumber(u"ZV-1"_s) + page::tail());

    EXPECT_TRUE(sheet.hasCell(FirstRow, 2));
    EXPECT_EQ(sheet.text(FirstRow, 2), QString());
}

TEST_F(ProductExtractorTest, TextsAreWrittenExactlyAsFound)
{
    const QString description = u"  Kevyt &amp; tehokas<br />\n\tuusi <b>malli</b>  "_s;
    parse(page::head() + page::orderNumber(u" ZV-1 &nbsp;"_s) + page::description(description)
        + page::propertiesTable(page::property(u" Jännite "_s, u" 18&nbsp;V\n"_s)) + page::tail());

    EXPECT_EQ(sheet.text(FirstRow, 1), u" ZV-1 &nbsp;"_s);
    EXPECT_EQ(sheet.text(FirstRow, 2), description);
    ASSERT_EQ(sheet.propertyLookups(), QStringList { u" Jännite "_s });
    EXPECT_EQ(sheet.text(FirstRow, sheet.columnOf(u" Jännite "_s)), u" 18&nbsp;V\n"_s);
}

// Only the beginning of a long field is copied off the page; what the cell
// keeps of it is the same as of the whole field.
TEST_F(ProductExtractorTest, LongFieldsKeepWhatTheirCellsKeep)
{
    // A surrogate pair straddles the cell's limit.
    const QString longText = QString(CellText::MaxLength - 1, u'a') + u"\U0001F600"_s + u"tail"_s;
    parse(page::head() + page::orderNumber(u"ZV-1"_s) + page::description(longText)
        + page::propertiesTable(page::property(u"Jännite"_s, longText)) + page::tail());

    EXPECT_EQ(CellText::limited(sheet.text(FirstRow, 2)), CellText::limited(longText));
    EXPECT_EQ(CellText::limited(sheet.text(FirstRow, sheet.columnOf(u"Jännite"_s))),
        CellText::limited(longText));
    EXPECT_LE(sheet.text(FirstRow, 2).size(), CellText::MaxLength + 1);
}

TEST_F(ProductExtractorTest, WithoutPropertiesTableNeitherPropertiesNorAccessoriesAreWritten)
{
    parse(page::head() + page::orderNumber(u"ZV-1"_s) + u"<table>"_s
        + page::property(u"Jännite"_s, u"18 V"_s) + u"</table>"_s
        + page::productTable({ { u"/catalog/product/1/A"_s, u"Akku"_s } }) + page::tail());

    EXPECT_TRUE(sheet.propertyLookups().isEmpty());
    EXPECT_FALSE(sheet.hasCell(FirstRow, 3));
    EXPECT_EQ(sheet.columnsOf(FirstRow), (QList<int> { 1, 2 }));
}

TEST_F(ProductExtractorTest, EmptyPropertyNameEndsThePropertiesWalk)
{
    parse(page::head() + page::orderNumber(u"ZV-1"_s)
        + page::propertiesTable(page::property(u"Jännite"_s, u"18 V"_s)
            + page::property(QString(), u"x"_s) + page::property(u"Paino"_s, u"1,6 kg"_s))
        + page::tail());

    EXPECT_EQ(sheet.propertyLookups(), QStringList { u"Jännite"_s });
    EXPECT_EQ(sheet.text(FirstRow, sheet.columnOf(u"Jännite"_s)), u"18 V"_s);
    EXPECT_EQ(sheet.columnsOf(FirstRow), (QList<int> { 1, 2, 15 }));
}

TEST_F(ProductExtractorTest, PropertiesWalkRunsToTheEndOfThePage)
{
    parse(page::head() + page::orderNumber(u"ZV-1"_s)
        + page::propertiesTable(page::property(u"Jännite"_s, u"18 V"_s))
        + u"<table class=\"notes\">"_s + page::property(u"Huomautus"_s, u"Ei sisällä akkua"_s)
        + u"</table>"_s + page::tail());

    EXPECT_EQ(sheet.propertyLookups(), (QStringList { u"Jännite"_s, u"Huomautus"_s }));
    EXPECT_EQ(sheet.text(FirstRow, sheet.columnOf(u"Huomautus"_s)), u"Ei sisällä akkua"_s);
}

struct ValueDistanceCase {
    const char* name;
    QString gap; // characters between "</th>" and "<td>"
    bool written;

    friend void PrintTo(const ValueDistanceCase& c, std::ostream* os) { *os << c.name; }
};

class ValueDistanceTest : public ProductExtractorTest,
                          public ::testing::WithParamInterface<ValueDistanceCase> { };

// "</th>" is five characters long: a gap of 8 puts "<td>" 13 characters after
// the position of "</th>", a gap of 9 puts it 14 after.
TEST_P(ValueDistanceTest, ValueCountsOnlyWithinFourteenCharacters)
{
    const ValueDistanceCase& c = GetParam();
    parse(page::head() + page::orderNumber(u"ZV-1"_s)
        + page::propertiesTable(page::property(u"Jännite"_s, u"18 V"_s, c.gap)
            + page::property(u"Paino"_s, u"1,6 kg"_s))
        + page::tail());

    const int column = sheet.columnOf(u"Jännite"_s);
    ASSERT_EQ(column, 15);
    EXPECT_EQ(sheet.hasCell(FirstRow, column), c.written);
    EXPECT_EQ(sheet.text(FirstRow, column), c.written ? u"18 V"_s : QString());
    EXPECT_EQ(sheet.text(FirstRow, sheet.columnOf(u"Paino"_s)), u"1,6 kg"_s);
}

INSTANTIATE_TEST_SUITE_P(Gaps, ValueDistanceTest,
    ::testing::Values(ValueDistanceCase { "Adjacent", QString(), true },
        ValueDistanceCase { "Thirteen", u"\n\t\t\t\t\t\t\t"_s, true },
        ValueDistanceCase { "Fourteen", u"\n\t\t\t\t\t\t\t\t"_s, false },
        ValueDistanceCase { "FarAway", u"<td class=\"v\">x</td>\n"_s, false }),
    [](const ::testing::TestParamInfo<ValueDistanceCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(ProductExtractorTest, PropertyWithoutAnyValueCellBehindGetsTheEmptyValue)
{
    parse(page::head() + page::orderNumber(u"ZV-1"_s)
        + page::propertiesTable(u"<tr><th width=\"30%\">Paino</th></tr>\n"_s) + page::tail());

    ASSERT_EQ(sheet.columnOf(u"Paino"_s), 15);
    EXPECT_TRUE(sheet.hasCell(FirstRow, 15));
    EXPECT_EQ(sheet.text(FirstRow, 15), QString());
}

TEST_F(ProductExtractorTest, PropertiesReuseHeaderColumnsAndLoseValuesWhenTheHeaderIsFull)
{
    sheet.addHeaderColumn(u"Paino"_s, 15);
    sheet.setLastColumn(15);
    parse(page::head() + page::orderNumber(u"ZV-1"_s)
        + page::propertiesTable(
            page::property(u"Jännite"_s, u"18 V"_s) + page::property(u"Paino"_s, u"1,6 kg"_s))
        + page::tail());

    EXPECT_EQ(sheet.propertyLookups(), (QStringList { u"Jännite"_s, u"Paino"_s }));
    EXPECT_EQ(sheet.columnsOf(FirstRow), (QList<int> { 1, 2, 15 }));
    EXPECT_EQ(sheet.text(FirstRow, 15), u"1,6 kg"_s);
    for (const FakeSheet::Cell& cell : sheet.writeOrder())
        EXPECT_GT(cell.second, 0);
}

struct AccessoriesCase {
    const char* name;
    QString before; // between the page head and the properties table
    QList<page::Link> after;
    bool written;
    QString expected;

    friend void PrintTo(const AccessoriesCase& c, std::ostream* os) { *os << c.name; }
};

class AccessoriesTest : public ProductExtractorTest,
                        public ::testing::WithParamInterface<AccessoriesCase> { };

TEST_P(AccessoriesTest, NamesAreJoinedByCommaAndSpace)
{
    const AccessoriesCase& c = GetParam();
    parse(page::head() + page::orderNumber(u"ZV-1"_s) + c.before
        + page::propertiesTable(page::property(u"Jännite"_s, u"18 V"_s))
        + page::productTable(c.after) + page::tail());

    EXPECT_EQ(sheet.hasCell(FirstRow, 3), c.written);
    EXPECT_EQ(sheet.text(FirstRow, 3), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Lists, AccessoriesTest,
    ::testing::Values(
        AccessoriesCase { "AEmptyB", {},
            { { u"/p/1/A"_s, u"A"_s }, { u"/p/2/E"_s, QString() }, { u"/p/3/B"_s, u"B"_s } }, true,
            u"A, B"_s },
        AccessoriesCase { "OnlyEmptyNames", {}, { { u"/p/1/E"_s, QString() } }, false, QString() },
        AccessoriesCase { "None", {}, {}, false, QString() },
        AccessoriesCase { "LinksBeforeTheTableDoNotCount",
            page::productTable({ { u"/p/9/X"_s, u"Ennen"_s } }), { { u"/p/1/A"_s, u"Akku"_s } },
            true, u"Akku"_s },
        AccessoriesCase { "EmptyHrefEndsTheList", {},
            { { u"/p/1/A"_s, u"A"_s }, { QString(), u"X"_s }, { u"/p/3/B"_s, u"B"_s } }, true,
            u"A"_s }),
    [](const ::testing::TestParamInfo<AccessoriesCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(ProductExtractorTest, AccessoriesStartAtTheTableWhenItHasNoPropertyName)
{
    parse(page::head() + page::orderNumber(u"ZV-1"_s) + page::propertiesTable(QString())
        + page::productTable({ { u"/p/1/A"_s, u"Akku"_s }, { u"/p/2/L"_s, u"Laturi"_s } })
        + page::tail());

    EXPECT_EQ(sheet.text(FirstRow, 3), u"Akku, Laturi"_s);
}

struct CounterCase {
    const char* name;
    QString before;
    QString after;

    friend void PrintTo(const CounterCase& c, std::ostream* os) { *os << c.name; }
};

class CounterLabelTest : public ProductExtractorTest,
                         public ::testing::WithParamInterface<CounterCase> { };

TEST_P(CounterLabelTest, CounterLabelGrowsByOneFromItsLeadingNumber)
{
    view.setCounterText(GetParam().before);
    parse(fullPage());
    EXPECT_EQ(view.counterText(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Captions, CounterLabelTest,
    ::testing::Values(CounterCase { "Number", u"41"_s, u"42"_s },
        CounterCase { "Empty", QString(), u"1"_s },
        CounterCase { "NumberAndText", u"7 tuotetta"_s, u"8"_s }),
    [](const ::testing::TestParamInfo<CounterCase>& info) { return std::string(info.param.name); });

struct SaveCase {
    const char* name;
    qint32 newCountBefore;
    int saves;

    friend void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }
};

class SavePointTest : public ProductExtractorTest,
                      public ::testing::WithParamInterface<SaveCase> { };

TEST_P(SavePointTest, WorkbookIsSavedAtEveryHundredthNewProduct)
{
    state.NewCount = GetParam().newCountBefore;
    QString statusAtSave;
    bool rowWrittenAtSave = false;
    sheet.setOnSave([&] {
        statusAtSave = view.statusText();
        rowWrittenAtSave = sheet.hasCell(FirstRow, 3) && state.NextRow == FirstRow + 1;
    });

    parse(fullPage());

    EXPECT_EQ(state.NewCount, GetParam().newCountBefore + 1);
    EXPECT_EQ(sheet.saveCount(), GetParam().saves);
    if (GetParam().saves > 0) {
        EXPECT_EQ(statusAtSave, u" -  - сохранение xls..."_s);
        EXPECT_TRUE(rowWrittenAtSave);
    } else {
        EXPECT_EQ(view.statusText(), u"Zavrinello/Sähkötyökalut/Porakoneet/ZV-1..."_s);
    }
}

INSTANTIATE_TEST_SUITE_P(Products, SavePointTest,
    ::testing::Values(SaveCase { "Ninetyninth", 98, 0 }, SaveCase { "Hundredth", 99, 1 },
        SaveCase { "HundredAndFirst", 100, 0 }, SaveCase { "TwoHundredth", 199, 1 }),
    [](const ::testing::TestParamInfo<SaveCase>& info) { return std::string(info.param.name); });

// Pictures may still be on their way while rows are written, but a save
// comes only after every picture of the rows it saves is over and flushed.
TEST_F(ProductExtractorTest, SaveWaitsForThePicturesOnTheirWay)
{
    downloader.setBackground(true);
    state.NewCount = 98;
    bool pictureOnDiskAtSave = false;
    int flushesAtSave = 0;
    sheet.setOnSave([&] {
        pictureOnDiskAtSave = QFileInfo::exists(imagesPath(u"ZV-1.jpg"_s));
        flushesAtSave = downloader.flushes();
    });

    parse(fullPage()); // the 99th: nothing saved, the picture still on its way
    EXPECT_FALSE(QFileInfo::exists(imagesPath(u"ZV-1.jpg"_s)));
    EXPECT_EQ(downloader.waits(), 0);
    parse(fullPage()); // the 100th, with the same picture: handed over again while on its way

    EXPECT_EQ(sheet.saveCount(), 1);
    EXPECT_EQ(downloader.waits(), 1);
    EXPECT_TRUE(pictureOnDiskAtSave);
    EXPECT_EQ(flushesAtSave, 1);
    ASSERT_EQ(downloader.calls().size(), 2);
    EXPECT_EQ(downloader.calls().at(1).localPath, downloader.calls().at(0).localPath);
}

// A second stop cut the wait before a save short: the rows from the first
// whose picture that wait gave up on are left out and taken back from the
// counts; rows whose picture failed for good (no file, nothing on its way) stay.
struct CutWaitCase {
    const char* name;
    QStringList pictures; // of the rows written since the last save, "" for none
    QStringList givenUp;
    QStringList refused; // failed for good: never on their way
    int keptRows;

    friend void PrintTo(const CutWaitCase& c, std::ostream* os) { *os << c.name; }
};

class CutWaitTest : public ProductExtractorTest,
                    public ::testing::WithParamInterface<CutWaitCase> { };

TEST_P(CutWaitTest, RowsFromTheFirstPictureGivenUpAreLeftOut)
{
    const CutWaitCase& c = GetParam();
    const int savedRows = 3; // rows of an earlier save, before FirstRow + savedRows
    downloader.setBackground(true);
    QStringList givenUp;
    for (const QString& picture : c.givenUp)
        givenUp << imagesPath(picture);
    downloader.abandonOnWait(givenUp);
    state.NextRow = FirstRow + savedRows;
    for (int row = FirstRow; row < state.NextRow; ++row)
        sheet.writeCell(row, 1, u"saved-%1"_s.arg(row));
    for (const QString& picture : c.pictures) {
        sheet.writeCell(state.NextRow, 1, u"new-%1"_s.arg(state.NextRow));
        sheet.writeCell(state.NextRow, RowLayout::PictureColumn, picture);
        if (!picture.isEmpty() && !c.refused.contains(picture))
            downloader.DownloadInBackground(u"https://p/"_s + picture, imagesPath(picture), 1, 0.3);
        ++state.NextRow;
    }
    state.NewCount = 100 + int(c.pictures.size());
    view.setCounterText(QString::number(state.NextRow - 1));

    SettleRowPictures(context(), int(c.pictures.size()));

    const int firstNew = FirstRow + savedRows;
    EXPECT_EQ(state.NextRow, firstNew + c.keptRows);
    EXPECT_EQ(state.NewCount, 100 + c.keptRows);
    EXPECT_EQ(view.counterText(), QString::number(state.NextRow - 1));
    for (int row = FirstRow; row < firstNew + int(c.pictures.size()); ++row)
        EXPECT_EQ(sheet.hasCell(row, 1), row < state.NextRow) << row;
    EXPECT_EQ(downloader.flushes(), 1);
}

INSTANTIATE_TEST_SUITE_P(Saves, CutWaitTest,
    ::testing::Values(CutWaitCase { "NothingGivenUp", { u"a.jpg"_s, u"b.jpg"_s }, {}, {}, 2 },
        CutWaitCase { "FirstGivenUp", { u"a.jpg"_s, u"b.jpg"_s }, { u"a.jpg"_s }, {}, 0 },
        CutWaitCase { "ThirdGivenUp", { u"a.jpg"_s, QString(), u"c.jpg"_s, u"d.jpg"_s },
            { u"c.jpg"_s, u"d.jpg"_s }, {}, 2 },
        CutWaitCase { "RefusedBeforeGivenUp", { u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s },
            { u"c.jpg"_s }, { u"a.jpg"_s }, 2 },
        CutWaitCase {
            "SharedNameGivenUp", { u"a.jpg"_s, u"b.jpg"_s, u"a.jpg"_s }, { u"a.jpg"_s }, {}, 0 }),
    [](const ::testing::TestParamInfo<CutWaitCase>& info) { return std::string(info.param.name); });

TEST_F(ProductExtractorTest, YieldsOnceAfterTheRowIsWrittenAndBeforeTheCountersMove)
{
    int runs = 0;
    qint32 newCountSeen = -1;
    bool rowComplete = false;
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver,
        [&] {
            ++runs;
            newCountSeen = state.NewCount;
            rowComplete = sheet.hasCell(FirstRow, 3) && sheet.hasCell(FirstRow, 15);
        },
        Qt::QueuedConnection);

    parse(fullPage());

    EXPECT_EQ(runs, 1);
    EXPECT_EQ(newCountSeen, 0);
    EXPECT_TRUE(rowComplete);
}

struct RefusalCase {
    const char* name;
    int refusedWriteColumn; // 0: none
    int refusedLinkColumn; // 0: none
    std::function<void(const FakeSheet&, const FakeRunView&)> check;

    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
};

class RefusalTest : public ProductExtractorTest,
                    public ::testing::WithParamInterface<RefusalCase> { };

// A refused write or link drops the rest of its own step only; the row is
// finished and counted.
TEST_P(RefusalTest, RestOfTheRowIsStillWritten)
{
    const RefusalCase& c = GetParam();
    if (c.refusedWriteColumn)
        sheet.refuseWritesIn(c.refusedWriteColumn);
    if (c.refusedLinkColumn)
        sheet.refuseLinksIn(c.refusedLinkColumn);

    parse(page::head() + page::breadcrumb(ThreeCategories) + page::picture(u"/normal/ZV-1.jpg"_s)
        + page::orderNumber(u"ZV-1"_s) + page::description(u"Kuvaus"_s)
        + page::propertiesTable(
            page::property(u"Jännite"_s, u"18 V"_s) + page::property(u"Paino"_s, u"1,6 kg"_s))
        + page::productTable({ { u"/p/1/A"_s, u"Akku"_s } }) + page::tail());

    c.check(sheet, view);
    EXPECT_EQ(sheet.text(FirstRow, 3), u"Akku"_s);
    EXPECT_EQ(state.NewCount, 1);
    EXPECT_EQ(state.NextRow, FirstRow + 1);
    EXPECT_EQ(view.counterText(), u"1"_s);
}

INSTANTIATE_TEST_SUITE_P(Steps, RefusalTest,
    ::testing::Values(RefusalCase { "OrderNumberWrite", 1, 0,
                          [](const FakeSheet& s, const FakeRunView&) {
                              EXPECT_FALSE(s.hasLink(FirstRow, 1));
                              EXPECT_EQ(s.text(FirstRow, 4), u"Zavrinello"_s);
                              EXPECT_EQ(s.text(FirstRow, 2), u"Kuvaus"_s);
                          } },
        RefusalCase { "OrderNumberLink", 0, 1,
            [](const FakeSheet& s, const FakeRunView&) {
                EXPECT_EQ(s.text(FirstRow, 1), u"ZV-1"_s);
                EXPECT_FALSE(s.hasLink(FirstRow, 1));
            } },
        RefusalCase { "FirstCategoryWrite", 4, 0,
            [](const FakeSheet& s, const FakeRunView& v) {
                EXPECT_FALSE(s.hasCell(FirstRow, 5));
                EXPECT_EQ(s.text(FirstRow, 14), u"ZV-1.jpg"_s);
                EXPECT_EQ(v.statusTexts().last(), u"ZV-1..."_s);
            } },
        RefusalCase { "SecondCategoryLink", 0, 5,
            [](const FakeSheet& s, const FakeRunView& v) {
                EXPECT_TRUE(s.hasLink(FirstRow, 4));
                EXPECT_EQ(s.text(FirstRow, 5), u"Sähkötyökalut"_s);
                EXPECT_FALSE(s.hasCell(FirstRow, 6));
                EXPECT_EQ(v.statusTexts().last(), u"Zavrinello/Sähkötyökalut/ZV-1..."_s);
            } },
        RefusalCase { "PictureWrite", 14, 0,
            [](const FakeSheet& s, const FakeRunView&) {
                EXPECT_FALSE(s.hasLink(FirstRow, 14));
                EXPECT_EQ(s.text(FirstRow, 2), u"Kuvaus"_s);
                EXPECT_EQ(s.text(FirstRow, 15), u"18 V"_s);
            } },
        RefusalCase { "FirstPropertyWrite", 15, 0,
            [](const FakeSheet& s, const FakeRunView&) {
                EXPECT_EQ(s.propertyLookups(), QStringList { u"Jännite"_s });
                EXPECT_FALSE(s.hasCell(FirstRow, 16));
            } }),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace zp::test
