#pragma once

#include "util/Result.h"
#include "xlsx/ColumnTexts.h"
#include "xlsx/SheetHyperlinks.h"
#include "xlsx/SheetIndex.h"
#include "xlsx/WorksheetScanner.h"
#include "xlsx/XlsxPackage.h"

#include <QString>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <unordered_map>
#include <vector>

namespace zp {

class MemoryBudget;
class SharedStrings;
class StyleSheet;

// One worksheet of a workbook: its cells' texts, its hyperlinks, writing text
// cells and links, and its XML for saving. The rows are scanned by
// WorksheetScanner and the links kept by SheetHyperlinks; the sheet itself
// is the row store and its serialiser.
//
// The rows are kept as the bytes they were read as; a row is taken apart
// only when a cell of it is written, and every row that was not written is
// saved byte for byte. The sheet's text as read stays for the life of the
// sheet, and each save adds the rows it wrote, so that a save hands the
// package pieces of these texts and never copies the whole sheet. Everything outside the rows
// (columns, views, merged cells, hyperlinks, elements the engine does not know) is kept as a tree
// and saved as it was, apart from what a write changes.
//
// The cells of the caller's key column, and of its header row (SheetIndex),
// are indexed as they are read and as they are written.
class Worksheet {
public:
    static constexpr int MaxHyperlinks = SheetHyperlinks::MaxHyperlinks;
    static constexpr int MaxAddressLength = SheetHyperlinks::MaxAddressLength;
    using LinkResult = SheetHyperlinks::Result;

    ~Worksheet();

    // Reads the worksheet XML and its relationships (nullopt when the part has
    // none). strings, styles and budget are the workbook's and must outlive
    // the sheet; budget has counted xml already, and the sheet takes from it
    // what else it holds, then and whenever a write adds to it. The cells index
    // holds are indexed, as read and as written. Fails when the XML is
    // malformed or not a worksheet, or the sheet does not fit in budget.
    static Result<std::unique_ptr<Worksheet>> load(std::shared_ptr<const std::string> xml,
        std::optional<std::string> relsXml, const SharedStrings& strings, StyleSheet& styles,
        MemoryBudget& budget, SheetIndex index);

    // The text a cell shows: strings, numbers as written, booleans as
    // TRUE/FALSE, error values; empty for an empty or missing cell.
    QString cellText(int row, int column) const;

    // Writes text into the cell as a string (cut to CellText::MaxLength). The
    // cell keeps its own style; a new cell takes its row's or column's style,
    // or style (a cell format index) when those are absent. Returns false when
    // the cell is outside the sheet or the workbook's memory budget cannot
    // hold the text (or the stored row it changes, taken apart).
    bool writeText(int row, int column, const QString& text, int style);

    // Sets the style (cell format index) of a cell, creating it empty if needed.
    bool setCellStyle(int row, int column, int style);

    // Makes the cell a link to address (an external target: absolute URL or
    // a path relative to the workbook's folder). A link already on the cell
    // is redirected without counting against the limit.
    LinkResult setHyperlink(int row, int column, const QString& address);

    // Drops every cell written and every link set in row `row` (2 or more)
    // and below, for rows that hold nothing saved: they are written as the
    // last save left them (a row holding only formatting keeps it).
    // lastFilledRow() counts no further than row - 1 after it.
    void discardRowsFrom(int row);

    // The external address the cell links to; empty when it has no link or
    // a link within the workbook.
    QString hyperlinkAddress(int row, int column) const;

    int hyperlinkCount() const { return m_links.count(); }

    // The header row of the index: column -> text of every non-empty cell;
    // empty when the index has no header row.
    const std::map<int, QString>& headerRow() const { return m_header; }

    // Highest row that has a row element or a written cell.
    int lastRow() const { return m_lastRow; }

    // Highest row holding anything in any column: a value, a formula or an
    // inline string (readable or not), a cell written here, or a hyperlink;
    // 0 when there is none. Rows holding only formatting do not count.
    int lastFilledRow() const { return std::max(m_lastFilledRow, m_links.lastRow()); }

    // The worksheet XML with every change, as pieces that the sheet's texts
    // make up. Nothing changes in the sheet; call committed() once the
    // package holding it has been saved.
    std::shared_ptr<const XlsxPackage::PartText> serialize();
    // The relationships part, nullopt when unchanged since the last save.
    std::optional<std::string> serializeRelationships() const;
    // Makes the XML last returned by serialize() the sheet's saved state.
    void committed();

    bool isDirty() const { return m_dirty; }

private:
    using RowSpan = SheetRowSpan;
    struct LiveCell {
        std::string xml; // the <c> element as it will be saved
        QString text;
        int style = -1; // s= of the cell, -1 when none
    };
    struct LiveRow {
        std::string attributes; // of the <row> element except r and spans, serialized
        int style = -1; // row style applying to new cells, -1 when none
        std::map<int, LiveCell> cells;
        std::string tail; // children after the cells (extLst)
    };
    Worksheet(
        const SharedStrings& strings, StyleSheet& styles, MemoryBudget& budget, SheetIndex index);
    Result<void> scan();
    Result<void> buildSkeleton(std::size_t sheetDataBegin, std::size_t sheetDataEnd);
    void readDimension();
    const RowSpan* findSpan(int row) const;
    // The row as written since the last save, taken apart from its stored XML
    // the first time; nullptr when the budget cannot hold that.
    LiveRow* liveRow(int row);
    void parseRow(const RowSpan& span, LiveRow& into) const;
    QString textOf(const pugi::xml_node& cell) const;
    int columnStyle(int column) const;
    std::string cellXml(int row, int column, const QString& text, int style) const;
    bool noteScanned(int row, int column, const WorksheetScanner::Cell& cell);
    // counted: the text's cost is taken already (or the text is shared).
    bool noteText(int row, int column, const QString& text, bool counted);
    void readColumns();
    std::string printSkeleton(std::string& placeholder);
    void appendLiveRow(std::string& out, int row, const LiveRow& live) const;
    std::string_view rowBytes(const RowSpan& span) const;
    // Calls visit(span, written) for every row in order: the rows written
    // since the last save (liveSpans) in place of those stored.
    template <typename Visit>
    void forEachRow(const std::vector<RowSpan>& liveSpans, Visit visit) const;

    const SharedStrings& m_strings;
    StyleSheet& m_styles;
    MemoryBudget& m_budget;
    const SheetIndex m_index;
    std::size_t m_liveBytes = 0; // taken from m_budget for the rows written since the last save

    // The sheet as read, then the rows each save wrote. Row offsets run
    // through them one after another; m_textStarts holds where each starts.
    std::vector<std::shared_ptr<const std::string>> m_texts;
    std::vector<std::uint64_t> m_textStarts;
    std::vector<RowSpan> m_rows; // row elements in m_texts, ascending
    std::map<int, LiveRow> m_liveRows; // rows written since then
    pugi::xml_document m_skeleton; // the sheet with an empty sheetData
    std::string m_mainPrefix; // "x:" when the sheet's elements carry one
    SheetHyperlinks m_links;

    struct ColumnStyle {
        int first;
        int last;
        int style;
    };
    std::vector<ColumnStyle> m_columnStyles;

    ColumnTexts m_keyTexts; // row -> text in the key column
    std::map<int, QString> m_header; // column -> text in the header row
    std::unordered_map<int, QString> m_headerStrings; // while scanning: shared string -> text
    int m_lastRow = 0;
    int m_lastFilledRow = 0;
    int m_lastColumn = 0;

    // The rows the last serialize() wrote, and where in it each lies.
    std::shared_ptr<const std::string> m_pendingText;
    std::vector<RowSpan> m_pendingRows;
    bool m_dirty = false;
};

} // namespace zp
