#include "xlsx/WorksheetScanner.h"

#include "xlsx/CellAddress.h"
#include "xlsx/WorksheetXml.h"
#include "xlsx/XmlTree.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace zp {

WorksheetScanner::WorksheetScanner(SheetIndex index, TextSink onText)
    : m_index(index)
    , m_onText(std::move(onText))
{
    setCharactersWanted(false);
}

void WorksheetScanner::startElement(std::string_view name, const char** attributes)
{
    ++m_depth;
    if (m_inRow)
        countRowNodes(attributes);
    if (m_depth == 1) {
        if (name != "worksheet")
            fail(u"not a worksheet"_s);
    } else if (m_depth == 2 && name == "sheetData") {
        // A second one would give rows twice: the file is damaged.
        if (sheetDataBegin >= 0)
            fail(u"more than one sheetData"_s);
        sheetDataBegin = eventOffset();
        m_sheetDataTagLength = eventLength();
        m_inSheetData = true;
    } else if (m_depth == 3 && m_inSheetData && name == "row") {
        startRow(attributes);
    } else if (m_depth == 4 && m_inRow && name == "c") {
        startCell(attributes);
    } else {
        if (m_depth == 5 && m_inRow && holdsContent(name))
            lastFilledRow = std::max(lastFilledRow, m_row);
        if (m_collect)
            startCellChild(name);
    }
}

bool WorksheetScanner::holdsContent(std::string_view name)
{
    const std::string_view local = name.substr(name.find(':') + 1);
    return local == "v" || local == "f" || local == "is";
}

void WorksheetScanner::startCellChild(std::string_view name)
{
    if (m_depth == 5 && name == "v")
        m_inValue = true;
    else if (m_depth == 5 && name == "is")
        m_inInline = true;
    else if (m_inInline
        && ((m_depth == 6 && name == "t") || (m_depth == 7 && m_inRun && name == "t")))
        m_inInlineText = true;
    else if (m_inInline && m_depth == 6 && name == "r")
        m_inRun = true;
    setCharactersWanted(m_inValue || m_inInlineText);
}

void WorksheetScanner::endElement(std::string_view name)
{
    if (m_depth == 2 && m_inSheetData && name == "sheetData") {
        sheetDataEnd = eventLength() == 0 ? sheetDataBegin + m_sheetDataTagLength
                                          : eventOffset() + eventLength();
        m_inSheetData = false;
    } else if (m_depth == 3 && m_inRow) {
        const std::int64_t end
            = eventLength() == 0 ? m_rowBegin + m_rowTagLength : eventOffset() + eventLength();
        rows.push_back(SheetRowSpan { static_cast<std::uint64_t>(m_rowBegin),
            static_cast<std::uint32_t>(end - m_rowBegin), m_row });
        m_inRow = false;
    } else if (m_depth == 4 && m_collect) {
        m_collect = false;
        if (!m_onText(m_row, m_column, Cell { m_type, m_value, m_inline }))
            fail(u"too large"_s, Failure::Kind::TooLarge);
    } else if (m_collect) {
        endCellChild(name);
    }
    --m_depth;
}

void WorksheetScanner::endCellChild(std::string_view name)
{
    if (m_depth == 5) {
        m_inValue = false;
        m_inInline = false;
    } else if (name == "t") {
        m_inInlineText = false;
    } else if (name == "r") {
        m_inRun = false;
    }
    setCharactersWanted(m_inValue || m_inInlineText);
}

void WorksheetScanner::characters(std::string_view text)
{
    if (m_inValue)
        m_value.append(text);
    else if (m_inInlineText)
        m_inline.append(text);
}

// A row is built as a tree when it is written to; its elements and
// attributes are held to the budget of every tree.
void WorksheetScanner::countRowNodes(const char** attributes)
{
    ++m_rowNodes;
    for (const char** a = attributes; *a; a += 2)
        ++m_rowNodes;
    if (m_rowNodes > XmlTree::MaxNodes)
        fail(u"a row with too many elements"_s, Failure::Kind::TooLarge);
}

void WorksheetScanner::startRow(const char** attributes)
{
    int row = m_row + 1;
    if (const char* r = attribute(attributes, "r"))
        row = WorksheetXml::parseInt(r, 0);
    if (row <= m_row || row > CellAddress::MaxRow) {
        fail(u"row numbers out of order or out of range"_s);
        return;
    }
    m_row = row;
    m_rowBegin = eventOffset();
    m_rowTagLength = eventLength();
    m_column = 0;
    m_rowNodes = 0;
    m_inRow = true;
}

void WorksheetScanner::startCell(const char** attributes)
{
    int column = m_column + 1;
    if (const char* r = attribute(attributes, "r")) {
        const CellAddress address = CellAddress::parse(r);
        if (!address.isValid() || address.row != m_row) {
            fail(u"bad cell reference"_s);
            return;
        }
        column = address.column;
    }
    if (column > CellAddress::MaxColumn) {
        fail(u"cell outside the sheet"_s);
        return;
    }
    m_column = column;
    lastColumn = std::max(lastColumn, column);
    m_collect = m_index.holds(m_row, column);
    if (m_collect) {
        const char* type = attribute(attributes, "t");
        m_type = type ? type : "n";
        m_value.clear();
        m_inline.clear();
    }
}

} // namespace zp
