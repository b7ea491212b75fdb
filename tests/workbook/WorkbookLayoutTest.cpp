#include "workbook/WorkbookLayout.h"

#include "ExternalTools.h"
#include "workbook/TextCounts.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

class WorkbookLayoutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::unique_ptr<WorkbookLayout> createLayout()
    {
        auto layout = WorkbookLayout::create(m_dir.path());
        EXPECT_TRUE(layout) << layout.error().toStdString();
        return layout ? std::move(layout).value() : nullptr;
    }

    std::unique_ptr<WorkbookLayout> reopen(const WorkbookLayout& layout)
    {
        auto reopened = WorkbookLayout::open(layout.filePath());
        EXPECT_TRUE(reopened) << reopened.error().toStdString();
        return reopened ? std::move(reopened).value() : nullptr;
    }

    QString workbookPath() const { return QDir(m_dir.path()).filePath(WorkbookLayout::FileName); }

    QTemporaryDir m_dir;
};

TEST_F(WorkbookLayoutTest, NewWorkbookHasHeaderRowAndIsSavedAtOnce)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    EXPECT_TRUE(QFile::exists(workbookPath()));
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    const QStringList expected { u"Tilausnumero"_s, u"Kuvaus"_s, u"Lis\u00e4tarvikkeet"_s,
        u"Категория 1"_s, u"Категория 2"_s, u"Категория 3"_s, u"Категория 4"_s, u"Категория 5"_s,
        u"Категория 6"_s, u"Категория 7"_s, u"Категория 8"_s, u"Категория 9"_s, u"Категория 10"_s,
        u"Картинки"_s };
    for (int column = 1; column <= 14; ++column) {
        EXPECT_EQ(reopened->cellText(1, column), expected[column - 1]) << column;
    }
    EXPECT_TRUE(reopened->cellText(1, 15).isEmpty());
    EXPECT_EQ(reopened->fixedColumnCount(), 14);
    EXPECT_TRUE(reopened->checkLayout());
    EXPECT_EQ(reopened->findNextRow(), 2);
}

TEST_F(WorkbookLayoutTest, CreateRefusesToOverwriteAnExistingWorkbook)
{
    QFile file(workbookPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("user data");
    file.close();
    const auto refused = WorkbookLayout::create(m_dir.path());
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.error().isEmpty());
    EXPECT_EQ(test::ExternalTools::readFile(workbookPath()), QByteArray("user data"));
}

TEST_F(WorkbookLayoutTest, CheckFailsOnAnyOtherC1AndLeavesFileUnchanged)
{
    for (const QString& c1 :
        { u"lis\u00e4tarvikkeet"_s, QString(), u"Lisatarvikkeet"_s, u"Lis\u00e4tarvikkeet "_s }) {
        QFile::remove(workbookPath());
        auto layout = createLayout();
        ASSERT_TRUE(layout);
        layout->writeCell(1, 3, c1);
        ASSERT_TRUE(layout->save());
        const QByteArray before = test::ExternalTools::readFile(workbookPath());
        auto reopened = reopen(*layout);
        ASSERT_TRUE(reopened);
        EXPECT_FALSE(reopened->checkLayout()) << c1.toStdString();
        reopened.reset();
        EXPECT_EQ(test::ExternalTools::readFile(workbookPath()), before);
    }
    EXPECT_EQ(WorkbookLayout::WrongFormatMessage, u"Неверный формат файла \"Zavrinello.xls\"."_s);
}

TEST_F(WorkbookLayoutTest, NextRowNeverFallsOnAStoredRowAcrossSaves)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    for (int row = 2; row <= 40; ++row)
        ASSERT_TRUE(layout->writeCell(row, 1, u"ZV-%1"_s.arg(row)));
    layout->writeCell(45, 2, u"description without an order number"_s);
    EXPECT_EQ(layout->findNextRow(), 46);
    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->findNextRow(), 46);
    EXPECT_EQ(reopened->cellText(45, 2), u"description without an order number"_s);
}

// A product page without an order number gets its address as the text of
// column A: a link on an empty text cell is dropped when LibreOffice saves
// the workbook, and later runs would then write the product again.
TEST_F(WorkbookLayoutTest, ProductWithoutOrderNumberStaysKnownThroughOtherPrograms)
{
    const QString url = u"http://127.0.0.1/product/no-number"_s;
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    ASSERT_TRUE(layout->writeCell(2, 1, url));
    ASSERT_TRUE(layout->linkCell(2, 1, url));
    ASSERT_TRUE(layout->writeCell(2, 2, u"description"_s));
    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    EXPECT_TRUE(reopened->isStored(url, u"no-number"_s));
    EXPECT_EQ(reopened->findNextRow(), 3);

    QString error;
    const std::optional<QJsonObject> probe = test::ExternalTools::probe(workbookPath(), &error);
    ASSERT_TRUE(probe) << error.toStdString();
    EXPECT_EQ(
        probe->value(u"first"_s).toObject().value(u"links"_s).toObject().value(u"A2"_s).toString(),
        url);

    if (test::ExternalTools::libreOffice().isEmpty())
        GTEST_SKIP() << "LibreOffice is not installed";
    QTemporaryDir out;
    const QString saved
        = test::ExternalTools::convert(workbookPath(), u"xlsx"_s, u"xlsx"_s, out.path());
    ASSERT_FALSE(saved.isEmpty());
    auto byLibreOffice = WorkbookLayout::open(saved);
    ASSERT_TRUE(byLibreOffice) << byLibreOffice.error().toStdString();
    EXPECT_EQ(byLibreOffice->linkAddress(2, 1), url);
    EXPECT_EQ(byLibreOffice->cellText(2, 1), url);
    EXPECT_TRUE(byLibreOffice->isStored(url, u"no-number"_s));
    EXPECT_EQ(byLibreOffice->findNextRow(), 3);
}

TEST_F(WorkbookLayoutTest, PropertyNamesMatchOnlyWholePropertyHeaders)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    // "Tila" is part of "Tilausnumero", "Kuvaus" a fixed header: both are
    // properties of their own.
    EXPECT_EQ(layout->propertyColumn(u"Tila"_s), 15);
    EXPECT_EQ(layout->propertyColumn(u"Kuvaus"_s), 16);
    EXPECT_EQ(layout->propertyColumn(u"tila"_s), 17);
    EXPECT_EQ(layout->propertyColumn(u"Tila"_s), 15);
    EXPECT_EQ(layout->propertyColumn(u"Ti"_s), 18);
    EXPECT_EQ(layout->propertyColumn(QString()), 0);
    EXPECT_EQ(layout->cellText(1, 1), u"Tilausnumero"_s);
    EXPECT_EQ(layout->cellText(1, 2), u"Kuvaus"_s);
    EXPECT_EQ(layout->cellText(1, 16), u"Kuvaus"_s);
    ASSERT_TRUE(layout->save());

    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->propertyColumn(u"Kuvaus"_s), 16);
    EXPECT_EQ(reopened->propertyColumn(u"Ti"_s), 18);
    EXPECT_EQ(reopened->propertyColumn(u"Paino"_s), 19);
}

TEST_F(WorkbookLayoutTest, NewPropertyGoesAfterTheLastPropertyColumnNotIntoAGap)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    layout->writeCell(1, 15, u"A"_s);
    layout->writeCell(1, 17, u"C"_s); // column 16 emptied by hand
    EXPECT_EQ(layout->propertyColumn(u"D"_s), 18);
    EXPECT_EQ(layout->propertyColumn(u"C"_s), 17);
}

TEST_F(WorkbookLayoutTest, PropertyColumnIsZeroWhenTheHeaderRowIsFull)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    layout->writeCell(1, 16384, u"last"_s);
    EXPECT_EQ(layout->propertyColumn(u"last"_s), 16384);
    EXPECT_EQ(layout->propertyColumn(u"one more"_s), 0);
    EXPECT_TRUE(layout->cellText(1, 16383).isEmpty());
    EXPECT_FALSE(layout->writeCell(2, 16385, u"x"_s));
    EXPECT_FALSE(layout->writeCell(1048577, 1, u"x"_s));
    EXPECT_FALSE(layout->writeCell(0, 1, u"x"_s));
}

TEST_F(WorkbookLayoutTest, StoredProductNeedsWholeTextOrSameLink)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    layout->writeCell(2, 1, u"A-1234"_s);
    layout->linkCell(2, 1, u"https://shop.example/p/A-1234"_s);
    layout->writeCell(3, 1, u"ZV-77"_s);
    // Only a link, the order number missing from the page.
    layout->linkCell(4, 1, u"https://shop.example/p/no-number"_s);
    layout->writeCell(4, 1, QString());
    layout->writeCell(5, 1, u"A-123"_s); // a prefix of row 2's number
    layout->writeCell(6, 1, u"ПРОВОД-Ä1"_s);
    layout->writeCell(7, 1, u"x"_s + QChar(0xD800)); // written as U+FFFD

    struct Case {
        QString url;
        QString segment;
        bool stored;
    };
    const Case cases[] = {
        { u"https://shop.example/p/12"_s, u"12"_s, false },
        { u"https://shop.example/p/1234"_s, u"1234"_s, false },
        { u"https://shop.example/p/x"_s, u"a-1234"_s, true },
        { u"https://shop.example/p/x"_s, u"zv-77"_s, true },
        { u"https://shop.example/p/A-1234"_s, u"other"_s, true },
        { u"https://shop.example/p/no-number"_s, u"no-number"_s, true },
        { u"https://shop.example/p/tilausnumero"_s, u"Tilausnumero"_s,
            false }, // the header is no product
        { QString(), QString(), false },
        { QString(), u"a-123"_s, true },
        { QString(), u"A-12"_s, false },
        { QString(), u"A-12345"_s, false },
        { QString(), u"провод-ä1"_s, true },
        { QString(), u"провод-а1"_s, false }, // Cyrillic а
        { QString(), u"x"_s + QChar(QChar::ReplacementCharacter), true },
        // Links and texts are looked up apart.
        { QString(), u"https://shop.example/p/A-1234"_s, false },
        { u"ZV-77"_s, QString(), false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(layout->isStored(c.url, c.segment), c.stored)
            << c.url.toStdString() << " " << c.segment.toStdString();
    }

    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    for (const Case& c : cases) {
        EXPECT_EQ(reopened->isStored(c.url, c.segment), c.stored) << c.url.toStdString();
    }

    // An overwritten cell or link is no longer found by its old value.
    reopened->writeCell(3, 1, u"ZV-78"_s);
    EXPECT_FALSE(reopened->isStored(u"u"_s, u"ZV-77"_s));
    EXPECT_TRUE(reopened->isStored(u"u"_s, u"ZV-78"_s));
    reopened->linkCell(2, 1, u"https://shop.example/p/A-1234-new"_s);
    EXPECT_FALSE(reopened->isStored(u"https://shop.example/p/A-1234"_s, u"x"_s));
    EXPECT_TRUE(reopened->isStored(u"https://shop.example/p/A-1234-new"_s, u"x"_s));
}

TEST_F(WorkbookLayoutTest, LinksKeepTheirAddressesAndLocalPicturesAreRelative)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    ASSERT_TRUE(layout->writeCell(2, 14, u"abc.jpg"_s));
    ASSERT_TRUE(layout->linkCell(2, 14, QDir(m_dir.path()).filePath(u"Images/abc.jpg"_s)));
    ASSERT_TRUE(layout->linkCell(2, 4, u"Images/def.jpg"_s));
    ASSERT_TRUE(layout->linkCell(2, 1, u"https://shop.example/p/1?a=1&b=2"_s));
    // Re-linking a cell replaces its address and adds no link.
    ASSERT_TRUE(layout->linkCell(2, 1, u"https://shop.example/p/2"_s));
    EXPECT_EQ(layout->hyperlinkCount(), 3);
    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->linkAddress(2, 14), u"Images/abc.jpg"_s);
    EXPECT_EQ(reopened->linkAddress(2, 4), u"Images/def.jpg"_s);
    EXPECT_EQ(reopened->linkAddress(2, 1), u"https://shop.example/p/2"_s);
    EXPECT_EQ(reopened->cellText(2, 14), u"abc.jpg"_s);
    EXPECT_EQ(reopened->hyperlinkCount(), 3);
}

TEST_F(WorkbookLayoutTest, RefusesLinksExcelCannotKeep)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    const QString longest = u"https://shop.example/"_s + QString(2079 - 21, u'a');
    EXPECT_TRUE(layout->linkCell(2, 1, longest));
    EXPECT_FALSE(layout->linkCell(3, 1, longest + u"a"_s));
    EXPECT_FALSE(layout->linkCell(4, 1, u"https://shop.example/a\nb"_s));
    EXPECT_FALSE(layout->linkCell(5, 1, QString()));
    EXPECT_FALSE(layout->linkCell(2, 16385, u"https://shop.example/"_s));
    EXPECT_EQ(layout->hyperlinkCount(), 1);
    EXPECT_TRUE(layout->linkAddress(3, 1).isEmpty());
}

TEST_F(WorkbookLayoutTest, HyperlinkLimitStopsLinksButNotCellsOrLookup)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    int row = 2;
    for (; layout->hyperlinkCount() < 65530; ++row) {
        layout->writeCell(row, 1, u"P-%1"_s.arg(row));
        ASSERT_TRUE(layout->linkCell(row, 1, u"https://shop.example/p/P-%1"_s.arg(row)));
    }
    EXPECT_EQ(row, 65532);
    EXPECT_TRUE(layout->writeCell(row, 1, u"P-over"_s));
    EXPECT_FALSE(layout->linkCell(row, 1, u"https://shop.example/p/P-over"_s));
    EXPECT_EQ(layout->hyperlinkCount(), 65530);
    EXPECT_TRUE(layout->isStored(u"https://shop.example/p/P-over"_s, u"P-over"_s));
    // An existing link can still be redirected at the limit.
    EXPECT_TRUE(layout->linkCell(2, 1, u"https://shop.example/p/moved"_s));
    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->hyperlinkCount(), 65530);
    EXPECT_FALSE(reopened->linkCell(row + 1, 1, u"https://shop.example/p/x"_s));
    EXPECT_EQ(reopened->cellText(row, 1), u"P-over"_s);
    EXPECT_EQ(reopened->findNextRow(), row + 1);
}

TEST_F(WorkbookLayoutTest, TextsComeBackAsWritten)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    const QString texts[] = {
        u"  edge spaces  "_s,
        u"tab\tand\nline\r\nbreaks"_s,
        u"bell"_s + QChar(7) + u" nul"_s + QChar(0) + u" esc"_s + QChar(0x1B),
        u"_x0041_ stays literal, _x005F_ too"_s,
        u"<b>&amp; markup</b>"_s,
        u"Sähkö – Категория 😀"_s,
        u"00123"_s,
    };
    int row = 2;
    for (const QString& text : texts)
        ASSERT_TRUE(layout->writeCell(row++, 2, text));
    const QString description = QString(40000, u'd');
    ASSERT_TRUE(layout->writeCell(row, 2, description));
    EXPECT_EQ(layout->cellText(row, 2).size(), 32767);
    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    row = 2;
    for (const QString& text : texts) {
        EXPECT_EQ(reopened->cellText(row, 2), text) << row;
        ++row;
    }
    EXPECT_EQ(reopened->cellText(row, 2), description.left(32767));
}

TEST_F(WorkbookLayoutTest, AppendsAcrossManySaves)
{
    auto layout = createLayout();
    ASSERT_TRUE(layout);
    for (int row = 2; row < 302; ++row) {
        layout->writeCell(row, 1, u"N-%1"_s.arg(row));
        layout->linkCell(row, 1, u"https://shop.example/p/N-%1"_s.arg(row));
        layout->writeCell(
            row, layout->propertyColumn(u"Prop %1"_s.arg(row % 7)), u"v%1"_s.arg(row));
        if (row % 100 == 0) {
            const Result<void> saved = layout->save();
            ASSERT_TRUE(saved) << saved.error().toStdString();
        }
    }
    // A header and an early row written after they were saved.
    layout->writeCell(1, 3, WorkbookLayout::CheckText);
    layout->writeCell(5, 2, u"late description"_s);
    ASSERT_TRUE(layout->save());
    // A row saved three times, each time from the rows the save before wrote.
    layout->writeCell(150, 2, u"second"_s);
    ASSERT_TRUE(layout->save());
    layout->writeCell(150, 3, u"third"_s);
    ASSERT_TRUE(layout->save());
    auto reopened = reopen(*layout);
    ASSERT_TRUE(reopened);
    for (const WorkbookLayout* sheet : { layout.get(), reopened.get() }) {
        EXPECT_EQ(sheet->findNextRow(), 302);
        EXPECT_EQ(sheet->cellText(301, 1), u"N-301"_s);
        EXPECT_EQ(sheet->linkAddress(150, 1), u"https://shop.example/p/N-150"_s);
        EXPECT_EQ(sheet->cellText(150, 2), u"second"_s);
        EXPECT_EQ(sheet->cellText(150, 3), u"third"_s);
        EXPECT_EQ(sheet->cellText(150, 1), u"N-150"_s);
        EXPECT_EQ(sheet->cellText(5, 2), u"late description"_s);
        EXPECT_EQ(sheet->cellText(5, 1), u"N-5"_s);
        EXPECT_EQ(sheet->cellText(1, 15), u"Prop 2"_s);
        EXPECT_EQ(sheet->cellText(1, 21), u"Prop 1"_s);
        EXPECT_EQ(sheet->cellText(295, 21), u"v295"_s);
        EXPECT_EQ(sheet->cellText(296, 15), u"v296"_s);
        EXPECT_TRUE(sheet->cellText(296, 21).isEmpty());
    }
}

// Rows a stop leaves out of the save: from the discarded row on nothing is
// saved or known as stored, the row numbers are free again, and the rows
// before it keep every cell and link, whether saved earlier or not.
TEST_F(WorkbookLayoutTest, DiscardedRowsAreLeftOutOfTheFileAndTheIndex)
{
    struct Case {
        int savedUpTo; // rows 2..savedUpTo saved before the discard
        int discardFrom;
    };
    const int written = 11;
    for (const Case& c : { Case { 6, 9 }, Case { 6, 7 }, Case { 1, 2 }, Case { 1, 5 } }) {
        QFile::remove(workbookPath());
        auto layout = createLayout();
        ASSERT_TRUE(layout);
        const auto url = [](int row) { return u"https://shop.example/p/%1"_s.arg(row); };
        for (int row = 2; row <= written; ++row) {
            ASSERT_TRUE(layout->writeCell(row, 1, u"N-%1"_s.arg(row)));
            ASSERT_TRUE(layout->linkCell(row, 1, url(row)));
            ASSERT_TRUE(layout->writeCell(row, 14, u"%1.jpg"_s.arg(row)));
            ASSERT_TRUE(layout->linkCell(row, 14, u"Images/%1.jpg"_s.arg(row)));
            ASSERT_TRUE(layout->writeCell(row, layout->propertyColumn(u"P%1"_s.arg(row)), u"v"_s));
            if (row == c.savedUpTo) {
                ASSERT_TRUE(layout->save());
            }
        }
        layout->discardRowsFrom(c.discardFrom);
        EXPECT_EQ(layout->findNextRow(), c.discardFrom);
        EXPECT_EQ(layout->hyperlinkCount(), 2 * (c.discardFrom - 2));
        for (int row = 2; row <= written; ++row) {
            const bool kept = row < c.discardFrom;
            EXPECT_EQ(layout->isStored(url(row), QString()), kept) << row;
            EXPECT_EQ(layout->isStored(QString(), u"n-%1"_s.arg(row)), kept) << row;
        }
        ASSERT_TRUE(layout->save());
        EXPECT_EQ(test::ExternalTools::xlsxProblems(workbookPath()), QStringList());
        // The next product takes the first discarded row.
        ASSERT_TRUE(layout->writeCell(c.discardFrom, 1, u"Next"_s));
        ASSERT_TRUE(layout->linkCell(c.discardFrom, 1, url(100)));
        ASSERT_TRUE(layout->save());
        EXPECT_EQ(test::ExternalTools::xlsxProblems(workbookPath()), QStringList());
        auto reopened = reopen(*layout);
        ASSERT_TRUE(reopened);
        EXPECT_EQ(reopened->findNextRow(), c.discardFrom + 1);
        EXPECT_EQ(reopened->hyperlinkCount(), 2 * (c.discardFrom - 2) + 1);
        EXPECT_TRUE(reopened->isStored(url(100), u"next"_s));
        EXPECT_EQ(reopened->cellText(c.discardFrom, 14), QString());
        for (int row = 2; row < c.discardFrom; ++row) {
            EXPECT_EQ(reopened->cellText(row, 1), u"N-%1"_s.arg(row));
            EXPECT_EQ(reopened->linkAddress(row, 1), url(row));
            EXPECT_EQ(reopened->linkAddress(row, 14), u"Images/%1.jpg"_s.arg(row));
            EXPECT_EQ(reopened->cellText(row, 14 + row - 1), u"v"_s);
        }
        for (int row = c.discardFrom + 1; row <= written; ++row) {
            EXPECT_FALSE(reopened->isStored(url(row), u"n-%1"_s.arg(row))) << row;
        }
    }
}

// Every key of many (the table grows and probes collide) is found with its
// count and last row, and no near miss is: a prefix, an extension, another
// case, a lone surrogate against U+FFFD or another lone surrogate.
TEST(TextCounts, FindsExactlyTheKeysItHolds)
{
    TextCounts counts;
    constexpr int Keys = 20000;
    const auto key = [](int i) { return u"K-%1-ä"_s.arg(i); };
    for (int i = 0; i < Keys; ++i)
        counts.add(key(i), i + 2);
    counts.add(key(7), 99);
    const QString lone = u"z"_s + QChar(0xD800);
    counts.add(lone, 5);
    counts.add(QString(), 6);

    for (int i = 0; i < Keys; ++i) {
        ASSERT_TRUE(counts.contains(key(i))) << i;
        EXPECT_EQ(counts.lastRow(key(i)), i == 7 ? 99 : i + 2) << i;
        ASSERT_FALSE(counts.contains(key(i).chopped(1))) << i;
        ASSERT_FALSE(counts.contains(key(i) + u"0"_s)) << i;
        ASSERT_FALSE(counts.contains(key(i).toUpper())) << i;
    }
    EXPECT_FALSE(counts.contains(key(Keys)));
    EXPECT_TRUE(counts.contains(lone));
    EXPECT_FALSE(counts.contains(u"z"_s + QChar(QChar::ReplacementCharacter)));
    EXPECT_FALSE(counts.contains(u"z"_s + QChar(0xDC00)));
    EXPECT_FALSE(counts.contains(QString()));
    EXPECT_EQ(counts.keyCount(), std::size_t { Keys } + 1);

    // A key added twice is held until it is removed twice.
    counts.remove(key(7));
    EXPECT_TRUE(counts.contains(key(7)));
    counts.remove(key(7));
    EXPECT_FALSE(counts.contains(key(7)));
    EXPECT_EQ(counts.lastRow(key(7)), 0);
    counts.remove(key(7));
    counts.add(key(7), 3);
    EXPECT_TRUE(counts.contains(key(7)));
    counts.remove(u"never added"_s);
    EXPECT_FALSE(counts.contains(u"never added"_s));
}

} // namespace
} // namespace zp
