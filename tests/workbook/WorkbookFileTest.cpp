// Opening damaged and hostile files, reading what other writers store, and
// saving safely.
#include "ExternalTools.h"
#include "workbook/WorkbookLayout.h"
#include "xlsx/CellAddress.h"
#include "xlsx/XlsxPackage.h"
#include "xlsx/XmlTree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

using Parts = std::map<std::string, std::string>;

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string RelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string PackageRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";

// A workbook package whose first sheet is sheetPart, holding sheetXml.
Parts workbookParts(
    const std::string& sheetXml, const std::string& sheetPart = "xl/worksheets/sheet1.xml")
{
    const std::string target = sheetPart.substr(3);
    return {
        { "[Content_Types].xml",
            Declaration
                + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                  "<Default Extension=\"rels\" "
                  "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                  "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                  "<Override PartName=\"/xl/workbook.xml\" "
                  "ContentType=\"application/"
                  "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                  "<Override PartName=\"/"
                + sheetPart
                + "\" "
                  "ContentType=\"application/"
                  "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                  "</Types>" },
        { "_rels/.rels",
            Declaration + "<Relationships xmlns=\"" + PackageRelNs
                + "\"><Relationship Id=\"rId1\" Type=\"" + RelNs
                + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>" },
        { "xl/workbook.xml",
            Declaration + "<workbook xmlns=\"" + MainNs + "\" xmlns:r=\"" + RelNs
                + "\"><sheets><sheet name=\"Data\" sheetId=\"1\" "
                  "r:id=\"rId7\"/></sheets></workbook>" },
        { "xl/_rels/workbook.xml.rels",
            Declaration + "<Relationships xmlns=\"" + PackageRelNs
                + "\">"
                  "<Relationship Id=\"rId7\" Type=\""
                + RelNs + "/worksheet\" Target=\"" + target
                + "\"/>"
                  "<Relationship Id=\"rId8\" Type=\""
                + RelNs
                + "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
                  "</Relationships>" },
        { sheetPart, sheetXml },
        { "xl/sharedStrings.xml",
            Declaration + "<sst xmlns=\"" + MainNs
                + "\"><si><t>plain</t></si>"
                  "<si><r><rPr><b/></rPr><t>rich </t></r><r><t xml:space=\"preserve\">runs </t></r>"
                  "<rPh sb=\"0\" "
                  "eb=\"1\"><t>phonetic</t></rPh></si><si><t>_x0041_BC</t></si></sst>" },
    };
}

std::string sheetWithRows(const std::string& rows)
{
    return Declaration + "<worksheet xmlns=\"" + MainNs + "\"><sheetData>" + rows
        + "</sheetData></worksheet>";
}

void writePackage(const QString& path, const Parts& parts)
{
    auto package = XlsxPackage::create(path);
    for (const auto& [name, data] : parts)
        package->write(name, data);
    const Result<void> saved = package->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class WorkbookFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString& name = WorkbookLayout::FileName) const
    {
        return QDir(m_dir.path()).filePath(name);
    }
    QTemporaryDir m_dir;
};

TEST_F(WorkbookFileTest, ReadsSharedRichInlineNumberAndBooleanCellsOfTheRelatedSheet)
{
    Parts parts = workbookParts(
        sheetWithRows(
            "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c "
            "r=\"C1\" t=\"s\"><v>2</v></c>"
            "<c r=\"D1\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c><c "
            "r=\"E1\"><v>12.5</v></c>"
            "<c r=\"F1\" t=\"b\"><v>1</v></c><c r=\"G1\" t=\"e\"><v>#N/A</v></c>"
            "<c r=\"H1\" t=\"str\"><f>A1</f><v>formula</v></c><c r=\"I1\" "
            "t=\"s\"><v>99</v></c><c r=\"J1\" t=\"s\"><v>1</v></c></row>"
            "<row r=\"3\"><c t=\"inlineStr\"><is><t>no r</t></is></c><c><v>7</v></c></row>"
            "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>2</v></c></row>"
            "<row r=\"5\"><c r=\"A5\" t=\"s\"><v>99</v></c></row>"),
        "xl/worksheets/data.xml");
    // A decoy under the name a guess would take.
    parts["xl/worksheets/sheet1.xml"]
        = sheetWithRows("<row r=\"1\"><c r=\"A1\"><v>666</v></c></row>");
    writePackage(path(), parts);

    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const QString expected[] = { u"plain"_s, u"rich runs "_s, u"ABC"_s, u"inline"_s, u"12.5"_s,
        u"TRUE"_s, u"#N/A"_s, u"formula"_s, QString() };
    for (int column = 1; column <= 9; ++column) {
        EXPECT_EQ(layout->cellText(1, column), expected[column - 1]) << column;
    }
    // One string in many header cells is held once, not once a cell.
    EXPECT_TRUE(layout->cellText(1, 10).isSharedWith(layout->cellText(1, 2)));
    EXPECT_EQ(layout->cellText(3, 1), u"no r"_s);
    EXPECT_EQ(layout->cellText(3, 2), u"7"_s);
    // Column 1 keeps shared strings by index; one out of range shows nothing.
    EXPECT_EQ(layout->cellText(4, 1), u"ABC"_s);
    EXPECT_TRUE(layout->isStored(QString(), u"abc"_s));
    EXPECT_EQ(layout->cellText(5, 1), QString());
    EXPECT_EQ(layout->findNextRow(), 6); // row 2 is a gap, row 5 holds a value

    // Writing into the row without references keeps its cells in place.
    ASSERT_TRUE(layout->writeCell(3, 3, u"new"_s));
    const Result<void> saved = layout->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();
    auto reopened = WorkbookLayout::open(path());
    ASSERT_TRUE(reopened) << reopened.error().toStdString();
    EXPECT_EQ(reopened->cellText(3, 1), u"no r"_s);
    EXPECT_EQ(reopened->cellText(3, 2), u"7"_s);
    EXPECT_EQ(reopened->cellText(3, 3), u"new"_s);
    EXPECT_EQ(reopened->cellText(1, 3), u"ABC"_s);
}

struct NextRowCase {
    const char* name;
    std::string rows; // after the header row
    int nextRow;
};

class NextRowTest : public WorkbookFileTest, public ::testing::WithParamInterface<NextRowCase> { };

// Whatever a row holds, readable or not and whoever wrote it, the next
// product goes below it.
TEST_P(NextRowTest, ComesAfterTheLastRowHoldingAnything)
{
    const std::string header
        = "<row r=\"1\"><c r=\"C1\" t=\"inlineStr\"><is><t>Lis\xC3\xA4tarvikkeet"
          "</t></is></c></row>";
    writePackage(path(), workbookParts(sheetWithRows(header + GetParam().rows)));
    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    ASSERT_TRUE(layout->checkLayout());
    EXPECT_EQ(layout->findNextRow(), GetParam().nextRow);
}

INSTANTIATE_TEST_SUITE_P(Sheets, NextRowTest,
    ::testing::Values(NextRowCase { "headerOnly", "", 2 },
        NextRowCase { "gapInColumnA",
            "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c></row>"
            "<row r=\"3\"><c r=\"B3\" t=\"s\"><v>0</v></c></row>",
            4 },
        NextRowCase { "formulaWithoutCachedValue",
            "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row><row r=\"3\"><c "
            "r=\"A3\"><f>A2+1</f></c></row>",
            4 },
        NextRowCase {
            "sharedStringOutOfRange", "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>999</v></c></row>", 3 },
        NextRowCase { "otherProgramRightOfTheTable",
            "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row><row r=\"9\"><c r=\"AZ9\" "
            "t=\"inlineStr\"><is><t>note</t></is></c></row>",
            10 },
        NextRowCase { "onlyFormattedCellsBelow",
            "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row><row r=\"3\" ht=\"30\" "
            "customHeight=\"1\"><c r=\"A3\" s=\"0\"/></row>",
            3 }),
    [](const ::testing::TestParamInfo<NextRowCase>& info) { return std::string(info.param.name); });

struct HostileCase {
    const char* name;
    Failure::Kind kind; // damaged, or refused for its size
    std::function<void(const QString& path)> make;
};

class HostileFileTest : public WorkbookFileTest,
                        public ::testing::WithParamInterface<HostileCase> { };

TEST_P(HostileFileTest, IsRefusedCleanlyAndLeftUnchanged)
{
    GetParam().make(path());
    const QByteArray before = test::ExternalTools::readFile(path());
    const auto refused = WorkbookLayout::open(path());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().kind(), GetParam().kind) << refused.error().toStdString();
    EXPECT_FALSE(refused.error().isEmpty());
    EXPECT_EQ(test::ExternalTools::readFile(path()), before);
}

const std::string laughs = Declaration
    + "<!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
      "\"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
      "<worksheet xmlns=\""
    + MainNs
    + "\"><sheetData><row r=\"1\"><c r=\"A1\" "
      "t=\"inlineStr\"><is><t>&lol3;</t></is></c></row></sheetData></worksheet>";

std::string elements(std::size_t count)
{
    std::string xml;
    xml.reserve(count * 4);
    for (std::size_t i = 0; i < count; ++i)
        xml += "<x/>";
    return xml;
}

std::string elementBomb()
{
    return elements(XmlTree::MaxNodes + 1);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFileTest,
    ::testing::Values(HostileCase { "empty", Failure::Kind::Damaged,
                          [](const QString& p) { writeBytes(p, QByteArray()); } },
        HostileCase { "notAZip", Failure::Kind::Damaged,
            [](const QString& p) { writeBytes(p, QByteArray(5000, 'z')); } },
        HostileCase { "legacyXls", Failure::Kind::Damaged,
            [](const QString& p) {
                writeBytes(
                    p, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(4088, '\0'));
            } },
        HostileCase { "truncatedZip", Failure::Kind::Damaged,
            [](const QString& p) {
                writePackage(p, workbookParts(sheetWithRows(std::string(5000, ' '))));
                const QByteArray whole = test::ExternalTools::readFile(p);
                writeBytes(p, whole.left(whole.size() / 2));
            } },
        HostileCase { "corruptData", Failure::Kind::Damaged,
            [](const QString& p) {
                std::string rows;
                for (int r = 1; r < 2000; ++r)
                    rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r)
                        + "\"><v>" + std::to_string(r * 7919) + "</v></c></row>";
                writePackage(p, workbookParts(sheetWithRows(rows)));
                QByteArray bytes = test::ExternalTools::readFile(p);
                const qsizetype at = bytes.indexOf("xl/worksheets/sheet1.xml") + 200;
                for (qsizetype i = at; i < at + 64; ++i)
                    bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
                writeBytes(p, bytes);
            } },
        HostileCase { "malformedSheet", Failure::Kind::Damaged,
            [](const QString& p) {
                writePackage(p, workbookParts("<worksheet><sheetData><row r=\"1\">"));
            } },
        HostileCase { "notAWorksheet", Failure::Kind::Damaged,
            [](const QString& p) {
                writePackage(p, workbookParts(Declaration + "<html><body/></html>"));
            } },
        HostileCase { "rowsOutOfOrder", Failure::Kind::Damaged,
            [](const QString& p) {
                writePackage(p, workbookParts(sheetWithRows("<row r=\"5\"/><row r=\"2\"/>")));
            } },
        HostileCase { "entityExpansion", Failure::Kind::Damaged,
            [](const QString& p) { writePackage(p, workbookParts(laughs)); } },
        HostileCase { "sheetOutsideItsRowsOverTheTreeByteCap", Failure::Kind::TooLarge,
            [](const QString& p) {
                std::string sheet = sheetWithRows("<row r=\"1\"/>");
                sheet.insert(sheet.rfind("</worksheet>"),
                    "<extLst><!--" + std::string(XmlTree::MaxBytes, 'x') + "--></extLst>");
                writePackage(p, workbookParts(sheet));
            } },
        HostileCase { "missingWorkbookPart", Failure::Kind::Damaged,
            [](const QString& p) {
                Parts parts = workbookParts(sheetWithRows(""));
                parts.erase("xl/workbook.xml");
                writePackage(p, parts);
            } },
        HostileCase { "missingSheetPart", Failure::Kind::Damaged,
            [](const QString& p) {
                Parts parts = workbookParts(sheetWithRows(""));
                parts.erase("xl/worksheets/sheet1.xml");
                writePackage(p, parts);
            } },
        HostileCase { "relationshipLeavingThePackage", Failure::Kind::Damaged,
            [](const QString& p) {
                Parts parts = workbookParts(sheetWithRows(""));
                std::string& rels = parts["xl/_rels/workbook.xml.rels"];
                rels.replace(rels.find("worksheets/sheet1.xml"), 21, "../../../etc/passwd");
                writePackage(p, parts);
            } },
        HostileCase { "secondSheetData", Failure::Kind::Damaged,
            [](const QString& p) {
                writePackage(p,
                    workbookParts(Declaration + "<worksheet xmlns=\"" + MainNs
                        + "\"><sheetData><row r=\"1\"/></sheetData>"
                          "<sheetData><row r=\"1\"/></sheetData></worksheet>"));
            } },
        // A few hundred kilobytes deflated, millions of tree nodes inflated.
        HostileCase { "elementBombOutsideTheRows", Failure::Kind::TooLarge,
            [](const QString& p) {
                writePackage(p,
                    workbookParts(Declaration + "<worksheet xmlns=\"" + MainNs
                        + "\"><sheetData/><extLst>" + elementBomb() + "</extLst></worksheet>"));
            } },
        HostileCase { "elementBombInARow", Failure::Kind::TooLarge,
            [](const QString& p) {
                writePackage(
                    p, workbookParts(sheetWithRows("<row r=\"1\">" + elementBomb() + "</row>")));
            } },
        HostileCase { "attributeBombInTheWorkbookPart", Failure::Kind::TooLarge,
            [](const QString& p) {
                Parts parts = workbookParts(sheetWithRows(""));
                std::string& workbook = parts["xl/workbook.xml"];
                std::string attributes;
                for (std::size_t i = 0; i <= XmlTree::MaxNodes; ++i)
                    attributes += " a" + std::to_string(i) + "=\"\"";
                workbook.replace(workbook.find("<sheets>"), 8, "<x" + attributes + "/><sheets>");
                writePackage(p, parts);
            } },
        // Each tree just under its own cap; together past what a workbook may hold.
        HostileCase { "partsEachUnderTheirCapTogetherOverTheMemoryBound", Failure::Kind::TooLarge,
            [](const QString& p) {
                const std::string filler = elements(XmlTree::MaxNodes * 95 / 100);
                Parts parts = workbookParts(Declaration + "<worksheet xmlns=\"" + MainNs
                    + "\"><sheetData/><extLst>" + filler + "</extLst></worksheet>");
                std::string& rels = parts["xl/_rels/workbook.xml.rels"];
                rels.insert(rels.find("</Relationships>"),
                    "<Relationship Id=\"rId9\" Type=\"" + RelNs
                        + "/styles\" Target=\"styles.xml\"/>");
                parts["xl/styles.xml"]
                    = "<styleSheet xmlns=\"" + MainNs + "\">" + filler + "</styleSheet>";
                parts["xl/worksheets/_rels/sheet1.xml.rels"] = "<Relationships xmlns=\""
                    + PackageRelNs + "\">" + filler + "</Relationships>";
                std::string strings = "<sst xmlns=\"" + MainNs + "\"><si><t>";
                strings.append(32u * 1024u * 1024u, 'x');
                parts["xl/sharedStrings.xml"] = strings + "</t></si></sst>";
                writePackage(p, parts);
            } },
        HostileCase { "hugeSharedStrings", Failure::Kind::TooLarge,
            [](const QString& p) {
                Parts parts = workbookParts(sheetWithRows(""));
                // Compresses to a few hundred kilobytes; reading it
                // would take more than the engine allows.
                std::string huge = "<sst xmlns=\"" + MainNs + "\"><si><t>";
                huge.append(XlsxPackage::MaxPartSize + 1024, 'x');
                huge += "</t></si></sst>";
                parts["xl/sharedStrings.xml"] = std::move(huge);
                writePackage(p, parts);
            } }),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

TEST_F(WorkbookFileTest, LinkAfterTheLargestRelationshipIdGetsALargerOne)
{
    Parts parts = workbookParts(sheetWithRows(""));
    parts["xl/worksheets/sheet1.xml"] = Declaration + "<worksheet xmlns=\"" + MainNs
        + "\" xmlns:r=\"" + RelNs
        + "\"><sheetData/><hyperlinks><hyperlink ref=\"A2\" r:id=\"rId2147483647\"/></hyperlinks>"
          "</worksheet>";
    parts["xl/worksheets/_rels/sheet1.xml.rels"] = Declaration + "<Relationships xmlns=\""
        + PackageRelNs + "\"><Relationship Id=\"rId2147483647\" Type=\"" + RelNs
        + "/hyperlink\" Target=\"http://127.0.0.1/old\" TargetMode=\"External\"/></Relationships>";
    writePackage(path(), parts);

    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    ASSERT_TRUE(layout->linkCell(3, 1, u"http://127.0.0.1/new"_s));
    const Result<void> saved = layout->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();

    auto reopened = WorkbookLayout::open(path());
    ASSERT_TRUE(reopened) << reopened.error().toStdString();
    EXPECT_EQ(reopened->linkAddress(2, 1), u"http://127.0.0.1/old"_s);
    EXPECT_EQ(reopened->linkAddress(3, 1), u"http://127.0.0.1/new"_s);
    auto package = XlsxPackage::open(path());
    ASSERT_TRUE(package);
    EXPECT_NE(package->read("xl/worksheets/_rels/sheet1.xml.rels")->find("rId2147483648"),
        std::string::npos);
}

TEST_F(WorkbookFileTest, StrictSheetGetsItsLinksInTheStrictNamespaces)
{
    const std::string strictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";
    const std::string strictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
    Parts parts = workbookParts(Declaration + "<worksheet xmlns=\"" + strictMain
        + "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c></row>"
          "</sheetData></worksheet>");
    writePackage(path(), parts);

    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    ASSERT_TRUE(layout->writeCell(2, 1, u"ZV-1"_s));
    ASSERT_TRUE(layout->linkCell(2, 1, u"http://127.0.0.1/p/1"_s));
    const Result<void> saved = layout->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();

    auto package = XlsxPackage::open(path());
    ASSERT_TRUE(package);
    const std::string sheet = *package->read("xl/worksheets/sheet1.xml");
    const std::string rels = *package->read("xl/worksheets/_rels/sheet1.xml.rels");
    EXPECT_NE(sheet.find("=\"" + strictRel + "\""), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find(RelNs), std::string::npos) << sheet;
    EXPECT_NE(rels.find("Type=\"" + strictRel + "/hyperlink\""), std::string::npos) << rels;
    auto reopened = WorkbookLayout::open(path());
    ASSERT_TRUE(reopened) << reopened.error().toStdString();
    EXPECT_EQ(reopened->linkAddress(2, 1), u"http://127.0.0.1/p/1"_s);
}

TEST_F(WorkbookFileTest, LeftoverOfAnInterruptedSaveIsIgnoredAndRemoved)
{
    auto created = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(created) << created.error().toStdString();
    auto layout = std::move(created).value();
    layout->writeCell(2, 1, u"ZV-1"_s);
    ASSERT_TRUE(layout->save());
    const QString leftover = XlsxPackage::temporaryPath(layout->filePath());
    EXPECT_FALSE(QFileInfo(leftover).fileName().startsWith(u"Zavrinello"_s, Qt::CaseInsensitive));
    writeBytes(leftover, QByteArray("PK\x03\x04") + QByteArray(" half a workbook"));
    layout.reset();

    auto reopened = WorkbookLayout::open(path());
    ASSERT_TRUE(reopened) << reopened.error().toStdString();
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_EQ(reopened->cellText(2, 1), u"ZV-1"_s);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { WorkbookLayout::FileName });
}

TEST_F(WorkbookFileTest, KilledWhileSavingLeavesAWholeWorkbook)
{
    const auto created = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(created) << created.error().toStdString();
    for (int round = 0; round < 4; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            auto layout = WorkbookLayout::open(path());
            if (!layout)
                ::_exit(2);
            for (int i = 0;; ++i) {
                const int row = layout->findNextRow();
                for (int r = row; r < row + 200; ++r) {
                    layout->writeCell(r, 1, u"K-%1"_s.arg(r));
                    layout->writeCell(r, 2, QString(300, u'k'));
                    layout->linkCell(r, 1, u"https://shop.example/k/%1"_s.arg(r));
                }
                // Tell the parent a save is about to start, so the kill
                // lands in or between saves.
                const char tick = 's';
                if (::write(pipeFds[1], &tick, 1) != 1 || !layout->save())
                    ::_exit(3);
            }
        }
        ::close(pipeFds[1]);
        char tick = 0;
        for (int saves = 0; saves < 2 + round; ++saves)
            ASSERT_EQ(::read(pipeFds[0], &tick, 1), 1);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeFds[0]);
        EXPECT_TRUE(WIFSIGNALED(status));

        auto layout = WorkbookLayout::open(path());
        ASSERT_TRUE(layout) << "round " << round << ": " << layout.error().toStdString();
        EXPECT_FALSE(QFile::exists(XlsxPackage::temporaryPath(path())));
        const int next = layout->findNextRow();
        EXPECT_EQ((next - 2) % 200, 0) << "a save was cut in half";
        EXPECT_TRUE(layout->checkLayout());
        if (next > 2) {
            EXPECT_EQ(
                layout->linkAddress(next - 1, 1), u"https://shop.example/k/%1"_s.arg(next - 1));
        }
    }
}

TEST_F(WorkbookFileTest, FailedSaveKeepsTheFileAndCanBeRetried)
{
    auto layout = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const QByteArray before = test::ExternalTools::readFile(path());
    layout->writeCell(2, 1, u"ZV-9"_s);
    // Something in the way of the temporary file makes the save fail.
    const QString blocker = XlsxPackage::temporaryPath(path());
    ASSERT_TRUE(QDir().mkdir(blocker));
    const Result<void> failed = layout->save();
    EXPECT_FALSE(failed);
    EXPECT_FALSE(failed.error().isEmpty());
    EXPECT_EQ(test::ExternalTools::readFile(path()), before);
    ASSERT_TRUE(QDir().rmdir(blocker));
    const Result<void> saved = layout->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();
    auto reopened = WorkbookLayout::open(path());
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->cellText(2, 1), u"ZV-9"_s);
}

// Bytes that deflate cannot shrink, as a picture's.
std::string randomBytes(std::size_t size)
{
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

// Adds a part stored uncompressed, as other programs store pictures.
void addStoredPart(const QString& path, const char* name, const std::string& data)
{
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), 0, &code);
    ASSERT_TRUE(archive);
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    const zip_int64_t index = zip_file_add(archive, name, source, 0);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0), 0);
    ASSERT_EQ(zip_close(archive), 0);
}

zip_uint16_t compressionMethod(const QString& path, const char* name)
{
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    zip_stat_t st;
    zip_stat_init(&st);
    const bool found = archive && zip_stat(archive, name, 0, &st) == 0;
    if (archive)
        zip_discard(archive);
    return found ? st.comp_method : zip_uint16_t(0xFFFF);
}

// The archive is written straight into the file, each part's header filled
// in after its data: every part must read back whole, with libzip and with
// Python's zipfile.
TEST_F(WorkbookFileTest, SavedPartsReadBackAsTheyWereWritten)
{
    Parts parts = workbookParts(sheetWithRows(""));
    writePackage(path(), parts);
    parts["xl/media/image1.png"] = randomBytes(1536 * 1024);
    addStoredPart(path(), "xl/media/image1.png", parts["xl/media/image1.png"]);
    auto opened = XlsxPackage::open(path());
    ASSERT_TRUE(opened) << opened.error().toStdString();
    std::string rows;
    for (int r = 1; rows.size() < 3 * 1024 * 1024; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>"
            + std::to_string(r * 7919 % 100003) + "</v></c></row>";
    parts["xl/worksheets/sheet1.xml"] = sheetWithRows(rows);
    parts["xl/sharedStrings.xml"] = Declaration + "<sst xmlns=\"" + MainNs + "\"/>";
    for (const char* name : { "xl/worksheets/sheet1.xml", "xl/sharedStrings.xml" })
        (*opened)->write(name, parts[name]);
    const Result<void> saved = (*opened)->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();

    auto reread = XlsxPackage::open(path());
    ASSERT_TRUE(reread) << reread.error().toStdString();
    for (const auto& [name, data] : parts) {
        const Result<std::string> part = (*reread)->read(name);
        ASSERT_TRUE(part) << part.error().toStdString();
        EXPECT_TRUE(*part == data) << name;
    }
    EXPECT_EQ(compressionMethod(path(), "xl/media/image1.png"), ZIP_CM_STORE);
    EXPECT_EQ(compressionMethod(path(), "xl/worksheets/sheet1.xml"), ZIP_CM_DEFLATE);
    ASSERT_FALSE(test::ExternalTools::python().isEmpty())
        << "python3 with openpyxl is not installed (scripts/install-deps installs it)";
    QString error;
    const std::optional<QJsonObject> digests = test::ExternalTools::zipDigests(path(), &error);
    ASSERT_TRUE(digests) << error.toStdString();
    EXPECT_EQ(digests->size(), qsizetype(parts.size()));
    for (const auto& [name, data] : parts) {
        const QByteArray digest = QCryptographicHash::hash(
            QByteArrayView(data.data(), qsizetype(data.size())), QCryptographicHash::Sha256);
        EXPECT_EQ(
            digests->value(QString::fromStdString(name)).toString().toLatin1(), digest.toHex())
            << name;
    }
}

// A full disk, as the file size limit makes it: the archive's write fails
// part-way, in the trial and in the save.
TEST_F(WorkbookFileTest, SaveThatCannotBeWrittenFailsWithTheReasonAndKeepsTheFile)
{
    writePackage(path(), workbookParts(sheetWithRows("")));
    const QByteArray before = test::ExternalTools::readFile(path());
    auto opened = XlsxPackage::open(path());
    ASSERT_TRUE(opened) << opened.error().toStdString();
    const std::string picture = randomBytes(2 * 1024 * 1024);
    (*opened)->write("xl/media/image1.png", picture);
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    const XlsxPackage::SaveTrial trial = (*opened)->trySave();
    const Result<void> failed = (*opened)->save();

    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(trial.outcome, XlsxPackage::SaveTrial::Outcome::NotWritable)
        << trial.detail.toStdString();
    ASSERT_TRUE(trial.failure);
    EXPECT_EQ(trial.failure->kind(), Failure::Kind::TooLarge);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.failure().kind(), Failure::Kind::TooLarge);
    EXPECT_TRUE(failed.error().endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << failed.error().toStdString();
    EXPECT_EQ(test::ExternalTools::readFile(path()), before);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { WorkbookLayout::FileName });
    const Result<void> saved = (*opened)->save();
    ASSERT_TRUE(saved) << saved.error().toStdString();
    const auto reread = XlsxPackage::open(path());
    ASSERT_TRUE(reread) << reread.error().toStdString();
    const Result<std::string> part = (*reread)->read("xl/media/image1.png");
    ASSERT_TRUE(part) << part.error().toStdString();
    EXPECT_TRUE(*part == picture);
}

TEST_F(WorkbookFileTest, SaveKeepsTheFilePermissions)
{
    auto layout = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0600), 0);
    layout->writeCell(2, 1, u"ZV-1"_s);
    ASSERT_TRUE(layout->save());
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// A part libzip cannot copy makes every save fail: found at opening.
TEST_F(WorkbookFileTest, EncryptedPartIsFoundBeforeAnythingIsWritten)
{
    ASSERT_TRUE(WorkbookLayout::create(m_dir.path()));
    {
        int code = 0;
        zip_t* archive = zip_open(QFile::encodeName(path()).constData(), 0, &code);
        ASSERT_TRUE(archive);
        static const char secret[] = "<secret/>";
        zip_source_t* source = zip_source_buffer(archive, secret, sizeof secret - 1, 0);
        const zip_int64_t index = zip_file_add(archive, "docProps/custom.xml", source, 0);
        ASSERT_GE(index, 0);
        ASSERT_EQ(
            zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_TRAD_PKWARE, "password"),
            0);
        ASSERT_EQ(zip_close(archive), 0);
    }
    const QByteArray before = test::ExternalTools::readFile(path());
    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const XlsxPackage::SaveTrial trial = layout->trySave();

    EXPECT_EQ(trial.outcome, XlsxPackage::SaveTrial::Outcome::PartNotCopyable);
    EXPECT_EQ(trial.detail, u"docProps/custom.xml"_s);
    EXPECT_EQ(test::ExternalTools::readFile(path()), before);
}

TEST_F(WorkbookFileTest, TrialSaveLeavesTheFolderAsItWas)
{
    auto layout = WorkbookLayout::create(m_dir.path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const XlsxPackage::SaveTrial trial = layout->trySave();
    EXPECT_EQ(trial.outcome, XlsxPackage::SaveTrial::Outcome::Savable)
        << trial.detail.toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { WorkbookLayout::FileName });

    ASSERT_TRUE(QDir().mkdir(XlsxPackage::temporaryPath(path())));
    EXPECT_EQ(layout->trySave().outcome, XlsxPackage::SaveTrial::Outcome::NotWritable);
}

// The link stays a link; its target gets the rows.
TEST_F(WorkbookFileTest, SymlinkedWorkbookIsSavedAtItsTarget)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(WorkbookLayout::create(elsewhere.path()));
    const QString target = QDir(elsewhere.path()).filePath(WorkbookLayout::FileName);
    ASSERT_TRUE(QFile::link(target, path()));
    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    ASSERT_TRUE(layout->writeCell(2, 1, u"ZV-1"_s));

    ASSERT_TRUE(layout->save());
    ASSERT_TRUE(layout->save());

    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    auto atTarget = WorkbookLayout::open(target);
    ASSERT_TRUE(atTarget) << atTarget.error().toStdString();
    EXPECT_EQ(atTarget->cellText(2, 1), u"ZV-1"_s);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
        QStringList { WorkbookLayout::FileName });
}

// Whatever a run can add, the file it saves must open again under the same
// bound: the rows that fit are written, saved and found again.
TEST_F(WorkbookFileTest, WorkbookFilledToItsMemoryBoundTakesNoMoreRowsAndOpensAgain)
{
    ASSERT_TRUE(WorkbookLayout::create(m_dir.path()));
    const std::size_t bound = WorkbookLayout::RoomForARow + 8u * 1024u * 1024u;
    auto layout = WorkbookLayout::open(path(), bound);
    ASSERT_TRUE(layout) << layout.error().toStdString();
    const QString description(400, u'\u00E4');
    int row = layout->findNextRow();
    for (; layout->hasRoom(); ++row) {
        ASSERT_LT(row, 100000) << "the bound never stopped the rows";
        EXPECT_TRUE(layout->writeCell(row, 1, u"ZV-%1"_s.arg(row)));
        EXPECT_TRUE(layout->writeCell(row, 2, description));
        EXPECT_TRUE(layout->linkCell(row, 1, u"https://shop.example/p/%1"_s.arg(row)));
        if (row % 500 == 0) {
            ASSERT_TRUE(layout->save());
        }
    }
    EXPECT_GT(row, 500);
    ASSERT_TRUE(layout->save());
    layout = Failure { Failure::Kind::IOError, u"dropped"_s };

    auto again = WorkbookLayout::open(path(), bound);
    ASSERT_TRUE(again) << again.error().toStdString();
    EXPECT_EQ(again->findNextRow(), row);
    EXPECT_TRUE(again->isStored(u"https://shop.example/p/%1"_s.arg(row - 1), u"ZV-x"_s));
    const QByteArray saved = test::ExternalTools::readFile(path());
    EXPECT_FALSE(WorkbookLayout::open(path(), 256u * 1024u));
    EXPECT_EQ(test::ExternalTools::readFile(path()), saved);
}

// Taking a stored row apart to change it costs memory as well: a bound that
// cannot hold that leaves the row as it is stored.
TEST_F(WorkbookFileTest, StoredRowTooLargeToTakeApartWithinTheBoundIsLeftAsItIs)
{
    const QString wide(30000, u'w');
    std::string cells;
    for (int column = 2; column <= 11; ++column)
        cells += "<c r=\"" + CellAddress { 2, column }.toString() + "\" t=\"inlineStr\"><is><t>"
            + wide.toStdString() + "</t></is></c>";
    writePackage(path(), workbookParts(sheetWithRows("<row r=\"2\">" + cells + "</row>")));

    auto tight = WorkbookLayout::open(path(), 6u * 1024u * 1024u);
    ASSERT_TRUE(tight) << tight.error().toStdString();
    EXPECT_FALSE(tight->writeCell(2, 12, u"x"_s));
    EXPECT_TRUE(tight->cellText(2, 3).isEmpty());

    auto roomy = WorkbookLayout::open(path(), 24u * 1024u * 1024u);
    ASSERT_TRUE(roomy) << roomy.error().toStdString();
    EXPECT_TRUE(roomy->writeCell(2, 12, u"x"_s));
    ASSERT_TRUE(roomy->save());
    auto reopened = WorkbookLayout::open(path());
    ASSERT_TRUE(reopened) << reopened.error().toStdString();
    EXPECT_EQ(reopened->cellText(2, 3), wide);
    EXPECT_EQ(reopened->cellText(2, 12), u"x"_s);
}

TEST_F(WorkbookFileTest, SheetFilledToItsLastRowHasNoNextRow)
{
    const std::string header
        = "<row r=\"1\"><c r=\"C1\" t=\"inlineStr\"><is><t>Lis\xC3\xA4tarvikkeet"
          "</t></is></c></row>";
    writePackage(path(),
        workbookParts(
            sheetWithRows(header + "<row r=\"1048576\"><c r=\"A1048576\"><v>1</v></c></row>")));
    auto layout = WorkbookLayout::open(path());
    ASSERT_TRUE(layout) << layout.error().toStdString();
    EXPECT_GT(layout->findNextRow(), CatalogSheet::MaxRow);
}

} // namespace
} // namespace zp
