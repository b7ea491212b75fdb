#include "xlsx/Worksheet.h"

#include "xlsx/CellAddress.h"
#include "xlsx/CellText.h"
#include "xlsx/MemoryBudget.h"
#include "xlsx/SharedStrings.h"
#include "xlsx/StyleSheet.h"
#include "xlsx/WorksheetXml.h"
#include "xlsx/XmlTree.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace zp {

using WorksheetXml::appendAttributeValue;
using WorksheetXml::cellKey;

namespace {

// What taking a stored row apart may cost a byte of its XML: pugixml spends up
// to 64 bytes a node, a node may be as short as 4 bytes, and the cells keep
// their XML and text besides.
constexpr std::size_t ParseBytesPerByte = 20;

// What a text held as a QString costs.
std::size_t textBytes(const QString& text)
{
    return static_cast<std::size_t>(text.size()) * sizeof(QChar) + 32;
}

} // namespace

Worksheet::Worksheet(
    const SharedStrings& strings, StyleSheet& styles, MemoryBudget& budget, SheetIndex index)
    : m_strings(strings)
    , m_styles(styles)
    , m_budget(budget)
    , m_index(index)
    , m_keyTexts(strings, budget)
{
}

Worksheet::~Worksheet() = default;

Result<std::unique_ptr<Worksheet>> Worksheet::load(std::shared_ptr<const std::string> xml,
    std::optional<std::string> relsXml, const SharedStrings& strings, StyleSheet& styles,
    MemoryBudget& budget, SheetIndex index)
{
    std::unique_ptr<Worksheet> sheet(new Worksheet(strings, styles, budget, index));
    sheet->m_texts.push_back(std::move(xml));
    sheet->m_textStarts.push_back(0);
    // The relationships first, so that their text is gone before the scan.
    if (!sheet->m_links.loadRelationships(relsXml, budget))
        return Failure { Failure::Kind::Damaged,
            u"worksheet: relationships malformed or too large"_s };
    relsXml.reset();
    if (Result<void> scanned = sheet->scan(); !scanned)
        return std::move(scanned).failure().within(u"worksheet"_s);
    sheet->readDimension();
    sheet->m_links.readHyperlinks(sheet->m_skeleton.document_element());
    sheet->readColumns();
    return sheet;
}

// Finds the rows and the texts of the indexed cells in one pass, and keeps
// everything but the rows as a tree.
Result<void> Worksheet::scan()
{
    const std::string& text = *m_texts.front();
    WorksheetScanner scanner(
        m_index, [this](int row, int column, const WorksheetScanner::Cell& cell) {
            return noteScanned(row, column, cell);
        });
    const bool scanned = scanner.feed(text.data(), text.size(), true);
    m_headerStrings.clear();
    if (!scanned)
        return scanner.failure();
    if (scanner.sheetDataBegin < 0 || scanner.sheetDataEnd < scanner.sheetDataBegin)
        return Failure { Failure::Kind::Damaged, u"no sheetData"_s };
    if (!m_budget.take(scanner.rows.capacity() * sizeof(RowSpan)))
        return Failure { Failure::Kind::TooLarge, u"too large"_s };
    m_rows = std::move(scanner.rows);
    m_lastFilledRow = scanner.lastFilledRow;
    m_lastRow = m_rows.empty() ? 0 : m_rows.back().row;
    m_lastColumn = scanner.lastColumn;
    return buildSkeleton(static_cast<std::size_t>(scanner.sheetDataBegin),
        static_cast<std::size_t>(scanner.sheetDataEnd));
}

Result<void> Worksheet::buildSkeleton(std::size_t begin, std::size_t end)
{
    const std::string& text = *m_texts.front();
    if (text.size() - (end - begin) > XmlTree::MaxBytes)
        return Failure { Failure::Kind::TooLarge, u"too large to hold"_s };
    const std::size_t nameEnd = text.find_first_of(" \t\r\n/>", begin + 1);
    std::string skeleton;
    skeleton.reserve(text.size() - (end - begin) + 32);
    skeleton.append(text, 0, begin);
    skeleton += '<';
    skeleton.append(text, begin + 1, nameEnd - begin - 1);
    skeleton += "/>";
    skeleton.append(text, end, std::string::npos);
    if (const pugi::xml_parse_result parsed = XmlTree::load(m_skeleton, skeleton, m_budget);
        !parsed)
        return XmlTree::failureOf(parsed, u"outside the rows"_s);
    m_mainPrefix = XmlTree::prefix(m_skeleton.document_element());
    return {};
}

void Worksheet::readDimension()
{
    const pugi::xml_node dimension = XmlTree::child(m_skeleton.document_element(), "dimension");
    if (!dimension)
        return;
    const std::string_view ref = dimension.attribute("ref").value();
    const auto colon = ref.find(':');
    const CellAddress corner
        = CellAddress::parse(colon == std::string_view::npos ? ref : ref.substr(colon + 1));
    if (corner.isValid()) {
        m_lastRow = std::max(m_lastRow, corner.row);
        m_lastColumn = std::max(m_lastColumn, corner.column);
    }
}

void Worksheet::readColumns()
{
    const pugi::xml_node cols = XmlTree::child(m_skeleton.document_element(), "cols");
    for (pugi::xml_node col = cols.first_child(); col; col = col.next_sibling()) {
        if (col.type() != pugi::node_element || !col.attribute("style"))
            continue;
        m_columnStyles.push_back(ColumnStyle { col.attribute("min").as_int(0),
            col.attribute("max").as_int(0), col.attribute("style").as_int(0) });
    }
}

int Worksheet::columnStyle(int column) const
{
    for (const ColumnStyle& range : m_columnStyles) {
        if (column >= range.first && column <= range.last)
            return range.style;
    }
    return -1;
}

const Worksheet::RowSpan* Worksheet::findSpan(int row) const
{
    const auto it = std::lower_bound(
        m_rows.begin(), m_rows.end(), row, [](const RowSpan& span, int r) { return span.row < r; });
    return it != m_rows.end() && it->row == row ? &*it : nullptr;
}

// The key column keeps a shared string as its index: the text of one string
// shown by every row would otherwise be copied into every row.
bool Worksheet::noteScanned(int row, int column, const WorksheetScanner::Cell& cell)
{
    const int shared = cell.type == "s" ? WorksheetXml::parseInt(cell.value, -1) : -1;
    const bool known = shared >= 0 && shared < m_strings.count();
    if (column == m_index.keyColumn && row != m_index.headerRow && known)
        return m_keyTexts.setShared(row, shared);
    // Header cells showing one string share one copy of its text.
    if (row == m_index.headerRow && known) {
        const auto [it, added] = m_headerStrings.try_emplace(shared);
        if (added) {
            it->second = m_strings.text(shared);
            if (!m_budget.take(textBytes(it->second)))
                return false;
        }
        return noteText(row, column, it->second, true);
    }
    return noteText(row, column,
        WorksheetXml::resolveText(cell.type, cell.value, cell.inlineText, m_strings), false);
}

bool Worksheet::noteText(int row, int column, const QString& text, bool counted)
{
    if (column == m_index.keyColumn && !m_keyTexts.setText(row, text))
        return false;
    if (row == m_index.headerRow) {
        if (text.isEmpty()) {
            m_header.erase(column);
        } else {
            if (!counted && !m_budget.take(textBytes(text)))
                return false;
            m_header[column] = text;
        }
    }
    return true;
}

QString Worksheet::textOf(const pugi::xml_node& cell) const
{
    const std::string_view type = cell.attribute("t") ? cell.attribute("t").value() : "n";
    const std::string_view value = XmlTree::child(cell, "v").child_value();
    std::string inlineText;
    if (const pugi::xml_node is = XmlTree::child(cell, "is")) {
        for (pugi::xml_node part = is.first_child(); part; part = part.next_sibling()) {
            if (XmlTree::localName(part) == "t")
                inlineText += part.child_value();
            else if (XmlTree::localName(part) == "r")
                inlineText += XmlTree::child(part, "t").child_value();
        }
    }
    return WorksheetXml::resolveText(type, value, inlineText, m_strings);
}

void Worksheet::parseRow(const RowSpan& span, LiveRow& into) const
{
    pugi::xml_document fragment;
    const std::string_view bytes = rowBytes(span);
    if (!fragment.load_buffer(
            bytes.data(), bytes.size(), XmlTree::ParseOptions | pugi::parse_fragment))
        return; // the scan accepted these bytes, so this does not happen
    const pugi::xml_node row = fragment.first_child();
    for (pugi::xml_attribute attribute = row.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        const std::string_view name = attribute.name();
        if (name == "r" || name == "spans")
            continue;
        into.attributes += ' ';
        into.attributes += name;
        into.attributes += "=\"";
        appendAttributeValue(into.attributes, attribute.value());
        into.attributes += '"';
    }
    const std::string_view customFormat = row.attribute("customFormat").value();
    if ((customFormat == "1" || customFormat == "true") && row.attribute("s"))
        into.style = row.attribute("s").as_int(-1);
    int column = 0;
    for (pugi::xml_node child = row.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (XmlTree::localName(child) != "c") {
            into.tail += XmlTree::print(child);
            continue;
        }
        const CellAddress address = CellAddress::parse(child.attribute("r").value());
        column = address.isValid() ? address.column : column + 1;
        if (!child.attribute("r"))
            child.prepend_attribute("r").set_value(
                CellAddress { span.row, column }.toString().c_str());
        LiveCell cell;
        cell.xml = XmlTree::print(child);
        cell.text = textOf(child);
        cell.style = child.attribute("s") ? child.attribute("s").as_int(-1) : -1;
        into.cells[column] = std::move(cell);
    }
}

Worksheet::LiveRow* Worksheet::liveRow(int row)
{
    auto it = m_liveRows.find(row);
    if (it != m_liveRows.end())
        return &it->second;
    LiveRow live;
    if (const RowSpan* span = findSpan(row)) {
        const std::size_t cost = ParseBytesPerByte * span->length;
        if (!m_budget.take(cost))
            return nullptr;
        m_liveBytes += cost;
        parseRow(*span, live);
    }
    return &m_liveRows.emplace(row, std::move(live)).first->second;
}

QString Worksheet::cellText(int row, int column) const
{
    if (!CellAddress { row, column }.isValid())
        return {};
    if (const auto live = m_liveRows.find(row); live != m_liveRows.end()) {
        const auto cell = live->second.cells.find(column);
        return cell == live->second.cells.end() ? QString() : cell->second.text;
    }
    if (column == m_index.keyColumn)
        return m_keyTexts.text(row);
    if (row == m_index.headerRow) {
        const auto it = m_header.find(column);
        return it == m_header.end() ? QString() : it->second;
    }
    // A row too large to take apart within the budget shows nothing.
    const RowSpan* span = findSpan(row);
    if (!span || m_budget.left() < ParseBytesPerByte * span->length)
        return {};
    LiveRow parsed;
    parseRow(*span, parsed);
    const auto cell = parsed.cells.find(column);
    return cell == parsed.cells.end() ? QString() : cell->second.text;
}

std::string Worksheet::cellXml(int row, int column, const QString& text, int style) const
{
    const std::string& p = m_mainPrefix;
    std::string xml;
    xml.reserve(static_cast<std::size_t>(text.size()) + 64);
    xml += '<';
    xml += p;
    xml += "c r=\"";
    xml += CellAddress { row, column }.toString();
    xml += '"';
    if (style >= 0) {
        xml += " s=\"";
        xml += std::to_string(style);
        xml += '"';
    }
    if (text.isEmpty()) {
        xml += "/>";
        return xml;
    }
    xml += " t=\"inlineStr\"><";
    xml += p;
    xml += "is><";
    xml += p;
    xml += CellText::needsPreserve(text) ? "t xml:space=\"preserve\">" : "t>";
    xml += CellText::toXml(text);
    xml += "</";
    xml += p;
    xml += "t></";
    xml += p;
    xml += "is></";
    xml += p;
    xml += "c>";
    return xml;
}

bool Worksheet::writeText(int row, int column, const QString& text, int style)
{
    if (!CellAddress { row, column }.isValid())
        return false;
    const QString limited = CellText::limited(text);
    LiveRow* live = liveRow(row);
    if (!live)
        return false;
    const auto existing = live->cells.find(column);
    int cellStyle = existing == live->cells.end() ? -1 : existing->second.style;
    if (cellStyle < 0) {
        const int inherited = live->style >= 0 ? live->style : columnStyle(column);
        cellStyle = inherited >= 0 ? inherited : style;
    }
    std::string xml = cellXml(row, column, limited, cellStyle);
    // The cell's XML is held twice until the save after it: in the cell, and
    // in the rows that save writes.
    const std::size_t cost = 2 * xml.size() + textBytes(limited) + sizeof(LiveCell);
    if (!m_budget.take(cost))
        return false;
    if (!noteText(row, column, limited, true)) {
        m_budget.giveBack(cost);
        return false;
    }
    m_liveBytes += cost;
    LiveCell& cell = live->cells[column];
    cell.style = cellStyle;
    cell.xml = std::move(xml);
    cell.text = limited;
    m_lastRow = std::max(m_lastRow, row);
    m_lastFilledRow = std::max(m_lastFilledRow, row);
    m_lastColumn = std::max(m_lastColumn, column);
    m_dirty = true;
    return true;
}

bool Worksheet::setCellStyle(int row, int column, int style)
{
    if (!CellAddress { row, column }.isValid())
        return false;
    LiveRow* live = liveRow(row);
    if (!live)
        return false;
    LiveCell& cell = live->cells[column];
    cell.style = style;
    cell.xml = cellXml(row, column, cell.text, style);
    m_lastRow = std::max(m_lastRow, row);
    m_lastColumn = std::max(m_lastColumn, column);
    m_dirty = true;
    return true;
}

void Worksheet::discardRowsFrom(int row)
{
    row = std::max(row, 2);
    for (auto it = m_liveRows.lower_bound(row); it != m_liveRows.end();) {
        if (m_index.keyColumn && it->second.cells.contains(*m_index.keyColumn))
            m_keyTexts.setText(it->first, {});
        it = m_liveRows.erase(it);
    }
    m_links.removeFromRow(row);
    const int storedLastRow = m_rows.empty() ? 0 : m_rows.back().row;
    m_lastRow = std::max(std::min(m_lastRow, row - 1), storedLastRow);
    m_lastFilledRow = std::min(m_lastFilledRow, row - 1);
    m_dirty = true;
}

QString Worksheet::hyperlinkAddress(int row, int column) const
{
    return m_links.address(row, column);
}

Worksheet::LinkResult Worksheet::setHyperlink(int row, int column, const QString& address)
{
    // The address goes into a tree node and into the saved relationships;
    // the link adds a handful of nodes to two trees.
    const std::size_t cost
        = 3 * static_cast<std::size_t>(address.size()) + 8 * XmlTree::NodeBytes + 128;
    if (!m_budget.take(cost))
        return LinkResult::LimitReached;
    const int before = m_links.count();
    const LinkResult result = m_links.link(m_skeleton.document_element(), row, column, address);
    if (result != LinkResult::Linked) {
        m_budget.giveBack(cost);
        return result;
    }
    if (m_links.count() > before) {
        m_lastRow = std::max(m_lastRow, row);
        m_lastColumn = std::max(m_lastColumn, column);
    }
    m_dirty = true;
    return result;
}

} // namespace zp
