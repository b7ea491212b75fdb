#include "xlsx/MemoryBudget.h"
#include "xlsx/SharedStrings.h"
#include "xlsx/StyleSheet.h"
#include "xlsx/Worksheet.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

// Shared, inline, number and boolean cells; B1 and B2 show one shared string.
constexpr const char* SheetXml
    = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)"
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>a1</t></is></c><c r="B1" t="s"><v>0</v></c></row>)"
      R"(<row r="2"><c r="A2" t="inlineStr"><is><t>a2</t></is></c><c r="B2" t="s"><v>0</v></c>)"
      R"(<c r="C2"><v>7</v></c></row>)"
      R"(<row r="3"><c r="A3" t="s"><v>1</v></c><c r="B3" t="inlineStr"><is><t>b3</t></is></c>)"
      R"(<c r="C3" t="b"><v>1</v></c></row>)"
      R"(</sheetData></worksheet>)";

const QString Cells[3][3] = {
    { u"a1"_s, u"shared"_s, QString() },
    { u"a2"_s, u"shared"_s, u"7"_s },
    { u"other"_s, u"b3"_s, u"TRUE"_s },
};

class WorksheetIndex : public ::testing::TestWithParam<SheetIndex> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_strings.append("shared", m_budget));
        ASSERT_TRUE(m_strings.append("other", m_budget));
        ASSERT_TRUE(m_styles.load(StyleSheet::newWorkbookXml(), m_budget));
        auto sheet = Worksheet::load(std::make_shared<const std::string>(SheetXml), std::nullopt,
            m_strings, m_styles, m_budget, GetParam());
        ASSERT_TRUE(sheet) << sheet.error().toStdString();
        m_sheet = std::move(sheet).value();
    }

    MemoryBudget m_budget { 64u * 1024u * 1024u };
    SharedStrings m_strings;
    StyleSheet m_styles;
    std::unique_ptr<Worksheet> m_sheet;
};

// Whatever the index holds, every cell reads the same, as stored and as
// written, and a discarded row leaves no trace in the index.
TEST_P(WorksheetIndex, ChangesNoCellsTextOnlyWhatIsIndexed)
{
    const SheetIndex index = GetParam();
    for (int row = 1; row <= 3; ++row) {
        for (int column = 1; column <= 3; ++column)
            EXPECT_EQ(m_sheet->cellText(row, column), Cells[row - 1][column - 1])
                << row << ',' << column;
    }
    std::map<int, QString> header;
    for (int column = 1; index.headerRow && column <= 3; ++column) {
        if (!Cells[*index.headerRow - 1][column - 1].isEmpty())
            header[column] = Cells[*index.headerRow - 1][column - 1];
    }
    EXPECT_EQ(m_sheet->headerRow(), header);

    for (int column = 1; column <= 3; ++column) {
        ASSERT_TRUE(m_sheet->writeText(2, column, u"w%1"_s.arg(column), -1));
        ASSERT_TRUE(m_sheet->writeText(4, column, u"n%1"_s.arg(column), -1));
    }
    m_sheet->discardRowsFrom(4);
    for (int column = 1; column <= 3; ++column) {
        EXPECT_EQ(m_sheet->cellText(2, column), u"w%1"_s.arg(column)) << column;
        EXPECT_EQ(m_sheet->cellText(4, column), QString()) << column;
    }
}

INSTANTIATE_TEST_SUITE_P(Indexes, WorksheetIndex,
    ::testing::Values(SheetIndex { 1, 1 }, SheetIndex { 2, 2 }, SheetIndex { 3, 3 },
        SheetIndex { 2, std::nullopt }, SheetIndex {}),
    [](const ::testing::TestParamInfo<SheetIndex>& info) {
        const auto name = [](const char* what, std::optional<int> at) {
            return at ? what + std::to_string(*at) : std::string("No") + what;
        };
        return name("Column", info.param.keyColumn) + name("Row", info.param.headerRow);
    });

} // namespace
} // namespace zp
