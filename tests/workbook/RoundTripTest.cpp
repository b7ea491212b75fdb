// Our workbooks read back by independent readers (openpyxl, LibreOffice), and
// users' workbooks made by those tools surviving our appends.
#include "ExternalTools.h"
#include "workbook/WorkbookLayout.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

using test::ExternalTools;

const QStringList schemaOrder { u"sheetPr"_s, u"dimension"_s, u"sheetViews"_s, u"sheetFormatPr"_s,
    u"cols"_s, u"sheetData"_s, u"sheetCalcPr"_s, u"sheetProtection"_s, u"protectedRanges"_s,
    u"scenarios"_s, u"autoFilter"_s, u"sortState"_s, u"dataConsolidate"_s, u"customSheetViews"_s,
    u"mergeCells"_s, u"phoneticPr"_s, u"conditionalFormatting"_s, u"dataValidations"_s,
    u"hyperlinks"_s, u"printOptions"_s, u"pageMargins"_s, u"pageSetup"_s, u"headerFooter"_s,
    u"rowBreaks"_s, u"colBreaks"_s, u"customProperties"_s, u"cellWatches"_s, u"ignoredErrors"_s,
    u"smartTags"_s, u"drawing"_s, u"legacyDrawing"_s, u"legacyDrawingHF"_s, u"drawingHF"_s,
    u"picture"_s, u"oleObjects"_s, u"controls"_s, u"webPublishItems"_s, u"tableParts"_s,
    u"extLst"_s };

// What Excel needs to open the package without a repair.
void expectExcelSafePackage(const QJsonObject& package)
{
    EXPECT_FALSE(package[u"zip64"_s].toBool());
    int last = -1;
    for (const QJsonValue& child : package[u"sheet_children"_s].toArray()) {
        const int rank = int(schemaOrder.indexOf(child.toString()));
        ASSERT_GE(rank, 0) << child.toString().toStdString();
        EXPECT_GT(rank, last) << child.toString().toStdString() << " out of order";
        last = rank;
    }
    for (const QJsonValue& count : package[u"hyperlinks_elements"_s].toArray()) {
        EXPECT_GT(count.toInt(), 0) << "empty <hyperlinks>";
    }
    QSet<QString> ids;
    for (const QJsonValue& id : package[u"rel_ids"_s].toArray()) {
        EXPECT_FALSE(ids.contains(id.toString()))
            << "duplicate relationship id " << id.toString().toStdString();
        ids.insert(id.toString());
    }
    EXPECT_EQ(package[u"cols_without_width"_s].toInt(), 0);
    EXPECT_GE(package[u"fill_patterns"_s].toArray().size(), 2);
}

QByteArray storedBytes(const QString& path, const char* part)
{
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!archive)
        return {};
    QByteArray bytes;
    zip_stat_t st;
    if (zip_stat(archive, part, 0, &st) == 0) {
        if (zip_file_t* file = zip_fopen(archive, part, ZIP_FL_COMPRESSED)) {
            bytes.resize(static_cast<qsizetype>(st.comp_size));
            if (zip_fread(file, bytes.data(), st.comp_size)
                != static_cast<zip_int64_t>(st.comp_size))
                bytes.clear();
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return bytes;
}

class RoundTripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        if (ExternalTools::python().isEmpty())
            GTEST_SKIP()
                << "python3 with openpyxl is not installed (scripts/install-deps installs it)";
    }

    QJsonObject probe(const QString& file)
    {
        QString error;
        const std::optional<QJsonObject> result = ExternalTools::probe(file, &error);
        EXPECT_TRUE(result) << "openpyxl cannot read " << file.toStdString() << ": "
                            << error.toStdString();
        return result.value_or(QJsonObject());
    }

    QTemporaryDir m_dir;
};

TEST_F(RoundTripTest, NewWorkbookReadsBackInOpenpyxl)
{
    auto layout = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const QString controls = u"a"_s + QChar(1) + u"b"_s + QChar(0x1F) + u"c\r\nd"_s;
    const QString description(40000, u'k');
    layout->writeCell(2, 1, u"ZV-1"_s);
    layout->linkCell(2, 1, u"https://shop.tolmari.example/catalog/ZV-1?x=1&y=2"_s);
    layout->writeCell(2, 2, description);
    layout->writeCell(2, 3, u"  spaced  "_s);
    layout->writeCell(2, 4, u"Sähkö"_s);
    layout->linkCell(2, 4, u"https://shop.tolmari.example/catalog/3833/s"_s);
    layout->writeCell(2, 5, controls);
    layout->writeCell(2, 6, u"_x0041_"_s);
    layout->writeCell(2, 14, u"abc.jpg"_s);
    layout->linkCell(2, 14, u"Images/abc.jpg"_s);
    layout->writeCell(2, layout->propertyColumn(u"Paino"_s), u"0012"_s);
    const Result<void> saved = layout->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();

    const QJsonObject result = probe(layout->filePath());
    const QJsonObject first = result[u"first"_s].toObject();
    const QJsonObject cells = first[u"cells"_s].toObject();
    const QStringList headers = WorkbookLayout::fixedHeaders();
    const QJsonObject fills = first[u"fills"_s].toObject();
    for (int i = 0; i < 14; ++i) {
        const QString ref = QChar(u'A' + i) + u"1"_s;
        EXPECT_EQ(cells[ref].toString(), headers[i]) << ref.toStdString();
        EXPECT_EQ(fills[ref].toString(), u"FF99CC00"_s) << ref.toStdString();
    }
    EXPECT_EQ(cells[u"O1"_s].toString(), u"Paino"_s);
    EXPECT_FALSE(fills.contains(u"O1"_s));
    EXPECT_EQ(fills.size(), 14);
    EXPECT_EQ(cells[u"A2"_s].toString(), u"ZV-1"_s);
    EXPECT_EQ(cells[u"B2"_s].toString(), description.left(32767));
    EXPECT_EQ(cells[u"C2"_s].toString(), u"  spaced  "_s);
    EXPECT_EQ(cells[u"D2"_s].toString(), u"Sähkö"_s);
    // openpyxl 3.0 does not decode the format's _xHHHH_ escapes in cell
    // values; it shows what the file holds, which must be the escaped text.
    EXPECT_EQ(cells[u"E2"_s].toString(), u"a_x0001_b_x001F_c_x000D_\nd"_s);
    EXPECT_EQ(cells[u"F2"_s].toString(), u"_x005F_x0041_"_s);
    EXPECT_EQ(cells[u"O2"_s].toString(), u"0012"_s);
    const QJsonObject links = first[u"links"_s].toObject();
    EXPECT_EQ(links[u"A2"_s].toString(), u"https://shop.tolmari.example/catalog/ZV-1?x=1&y=2"_s);
    EXPECT_EQ(links[u"D2"_s].toString(), u"https://shop.tolmari.example/catalog/3833/s"_s);
    EXPECT_EQ(links[u"N2"_s].toString(), u"Images/abc.jpg"_s);
    EXPECT_EQ(links.size(), 3);
    const QJsonObject formats = first[u"formats"_s].toObject();
    for (auto it = formats.begin(); it != formats.end(); ++it) {
        EXPECT_EQ(it.value().toString(), u"@"_s) << it.key().toStdString();
    }
    EXPECT_EQ(first[u"column_formats"_s].toObject()[u"A"_s].toString(), u"@"_s);
    const QJsonObject package = result[u"package"_s].toObject();
    expectExcelSafePackage(package);
    EXPECT_TRUE(package[u"cells_without_style"_s].toArray().isEmpty());
    const QJsonArray fillPatterns = package[u"fill_patterns"_s].toArray();
    EXPECT_EQ(fillPatterns, (QJsonArray { u"none"_s, u"gray125"_s, u"solid"_s }));
}

class UsersWorkbookTest : public RoundTripTest,
                          public ::testing::WithParamInterface<const char*> { };

TEST_P(UsersWorkbookTest, SurvivesOurAppendWithEverythingIntact)
{
    const QString path = QDir(m_dir.path()).filePath(WorkbookLayout::FileName);
    ASSERT_TRUE(QFile::copy(
        QStringLiteral(ZP_TEST_DATA_DIR "/workbook/") + QString::fromUtf8(GetParam()), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QJsonObject before = probe(path);

    auto layout = WorkbookLayout::open(path);
    ASSERT_TRUE(layout) << layout.error().toStdString();
    ASSERT_TRUE(layout->checkLayout());
    ASSERT_EQ(layout->findNextRow(), 41);
    EXPECT_TRUE(layout->isStored(u"https://shop.tolmari.example/product/ZV-1005"_s, u"nothing"_s));
    EXPECT_TRUE(layout->isStored(u"https://x"_s, u"zv-1039"_s));
    EXPECT_FALSE(layout->isStored(u"https://x"_s, u"1039"_s));
    EXPECT_EQ(layout->propertyColumn(u"Paino"_s), 15);
    const int colour = layout->propertyColumn(u"Väri"_s);
    EXPECT_EQ(colour, 16);
    const int newColumn = layout->propertyColumn(u"Teho"_s);
    EXPECT_EQ(newColumn, 17);
    layout->writeCell(41, 1, u"ZV-2001"_s);
    layout->linkCell(41, 1, u"https://shop.tolmari.example/product/ZV-2001"_s);
    layout->writeCell(41, 2, u"Uusi tuote"_s);
    layout->writeCell(41, newColumn, u"5 W"_s);
    layout->writeCell(2, newColumn, u"7 W"_s); // a row the user formatted
    const Result<void> saved = layout->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();

    const QJsonObject after = probe(path);
    for (const char* key : { "sheets", "defined_names", "others" }) {
        EXPECT_EQ(after[QString::fromUtf8(key)], before[QString::fromUtf8(key)]) << key;
    }
    const QJsonObject firstBefore = before[u"first"_s].toObject();
    const QJsonObject firstAfter = after[u"first"_s].toObject();
    for (const char* key : { "widths", "freeze", "bold" }) {
        EXPECT_EQ(firstAfter[QString::fromUtf8(key)], firstBefore[QString::fromUtf8(key)]) << key;
    }
    for (const char* key : { "links", "fills", "formats", "cells" }) {
        const QJsonObject old = firstBefore[QString::fromUtf8(key)].toObject();
        const QJsonObject now = firstAfter[QString::fromUtf8(key)].toObject();
        for (auto it = old.begin(); it != old.end(); ++it) {
            EXPECT_EQ(now[it.key()], it.value()) << key << " " << it.key().toStdString();
        }
    }
    const QJsonObject cells = firstAfter[u"cells"_s].toObject();
    EXPECT_EQ(cells[u"A41"_s].toString(), u"ZV-2001"_s);
    EXPECT_EQ(cells[u"B41"_s].toString(), u"Uusi tuote"_s);
    EXPECT_EQ(cells[u"Q1"_s].toString(), u"Teho"_s);
    EXPECT_EQ(cells[u"Q41"_s].toString(), u"5 W"_s);
    EXPECT_EQ(cells[u"Q2"_s].toString(), u"7 W"_s);
    EXPECT_EQ(firstAfter[u"links"_s].toObject()[u"A41"_s].toString(),
        u"https://shop.tolmari.example/product/ZV-2001"_s);
    EXPECT_EQ(firstAfter[u"formats"_s].toObject()[u"Q41"_s].toString(), u"@"_s);
    expectExcelSafePackage(after[u"package"_s].toObject());
    EXPECT_EQ(after[u"package"_s].toObject()[u"entries"_s],
        before[u"package"_s].toObject()[u"entries"_s]);

    // The second sheet was not touched, so it is stored exactly as it was.
    const QString original
        = QStringLiteral(ZP_TEST_DATA_DIR "/workbook/") + QString::fromUtf8(GetParam());
    const QByteArray sheet2 = storedBytes(original, "xl/worksheets/sheet2.xml");
    EXPECT_FALSE(sheet2.isEmpty());
    EXPECT_EQ(storedBytes(path, "xl/worksheets/sheet2.xml"), sheet2);
}

INSTANTIATE_TEST_SUITE_P(MadeBy, UsersWorkbookTest,
    ::testing::Values("openpyxl-catalog.xlsx", "libreoffice-catalog.xlsx"),
    [](const ::testing::TestParamInfo<const char*>& info) {
        return std::string(info.param).substr(0, std::string(info.param).find('-'));
    });

// Splits LibreOffice's CSV (comma, double quotes, UTF-8) into rows of fields.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (ch == u'"') {
                quoted = false;
            } else {
                field += ch;
            }
        } else if (ch == u'"') {
            quoted = true;
        } else if (ch == u',') {
            row << field;
            field.clear();
        } else if (ch == u'\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
        } else if (ch != u'\r') {
            field += ch;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        rows << (row << field);
    return rows;
}

TEST_F(RoundTripTest, LibreOfficeConvertsOurWorkbookToTheSameTexts)
{
    if (ExternalTools::libreOffice().isEmpty())
        GTEST_SKIP() << "LibreOffice is not installed (scripts/install-deps installs it)";
    auto layout = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const QList<QStringList> rows {
        { u"ZV-1"_s, u"Kuvaus, \"lainattu\""_s, u"A, B"_s, u"Sähkö"_s },
        { u"ZV-2"_s, u"  reunat  "_s, QString(), u"Категория"_s },
        { u"00123"_s, u"_x0041_ ja rivi\nvaihto"_s, u"1.5"_s, u"TRUE"_s },
        { u"ZV-4"_s, u"ohjaus"_s + QChar(1) + u"merkit"_s + QChar(0x1F), u"tab\there"_s,
            u"x_x000D_y"_s },
    };
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c)
            layout->writeCell(r + 2, c + 1, rows[r][c]);
        layout->linkCell(r + 2, 1, u"https://shop.tolmari.example/p/%1"_s.arg(r));
    }
    ASSERT_TRUE(layout->save());

    QTemporaryDir out;
    const QString csv = ExternalTools::convert(
        layout->filePath(), u"csv:Text - txt - csv (StarCalc):44,34,76,1"_s, u"csv"_s, out.path());
    ASSERT_FALSE(csv.isEmpty()) << "LibreOffice could not convert the workbook";
    const QList<QStringList> read = parseCsv(QString::fromUtf8(ExternalTools::readFile(csv)));
    ASSERT_EQ(read.size(), rows.size() + 1);
    EXPECT_EQ(read[0].mid(0, 14), WorkbookLayout::fixedHeaders());
    for (int r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(read[r + 1].mid(0, rows[r].size()), rows[r]) << r;
    }
}

} // namespace
} // namespace zp
