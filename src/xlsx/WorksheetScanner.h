#pragma once

#include "xlsx/SheetIndex.h"
#include "xlsx/XmlStream.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zp {

// Where one row element lies in the worksheet XML; 16 bytes, as a sheet has
// up to a million of them. A row is shorter than 4 GiB: one read is no longer
// than its part, one written has at most 16,384 cells of at most 32,767
// characters each.
struct SheetRowSpan {
    std::uint64_t offset;
    std::uint32_t length;
    int row;
};

// Walks a worksheet's XML once, as a stream: finds sheetData and every row's
// bytes, and hands over the cells that index holds. Fails on anything that is
// not a worksheet, rows out of order and cells outside the sheet.
class WorksheetScanner final : public XmlStream {
public:
    // A cell as the XML gives it: its type (t=), its value and its inline text.
    struct Cell {
        std::string_view type;
        std::string_view value;
        std::string_view inlineText;
    };
    // Returns false to end the scan: the sink cannot hold the text.
    using TextSink = std::function<bool(int row, int column, const Cell& cell)>;

    WorksheetScanner(SheetIndex index, TextSink onText);

    std::int64_t sheetDataBegin = -1; // offset of <sheetData>
    std::int64_t sheetDataEnd = -1; // offset just after </sheetData>
    int lastColumn = 0; // highest column of a cell
    std::vector<SheetRowSpan> rows; // ascending
    // Highest row with a cell holding a value, a formula or an inline string,
    // readable or not (a formula without a cached value, a shared-string
    // index out of range); 0 when none.
    int lastFilledRow = 0;

protected:
    void startElement(std::string_view name, const char** attributes) override;
    void endElement(std::string_view name) override;
    void characters(std::string_view text) override;

private:
    void countRowNodes(const char** attributes);
    void startRow(const char** attributes);
    void startCell(const char** attributes);
    void startCellChild(std::string_view name);
    static bool holdsContent(std::string_view name);
    void endCellChild(std::string_view name);

    SheetIndex m_index;
    TextSink m_onText;
    int m_depth = 0;
    bool m_inSheetData = false;
    int m_sheetDataTagLength = 0;
    bool m_inRow = false;
    std::size_t m_rowNodes = 0; // elements and attributes inside the current row
    int m_row = 0;
    std::int64_t m_rowBegin = 0;
    int m_rowTagLength = 0;
    int m_column = 0;
    bool m_collect = false;
    bool m_inValue = false;
    bool m_inInline = false;
    bool m_inInlineText = false;
    bool m_inRun = false;
    std::string m_type;
    std::string m_value;
    std::string m_inline;
};

} // namespace zp
