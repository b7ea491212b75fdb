#include "workbook/Worksheet.h"

#include "workbook/CellAddress.h"
#include "workbook/CellText.h"
#include "workbook/SharedStrings.h"
#include "workbook/StyleSheet.h"
#include "workbook/XmlStream.h"
#include "workbook/XmlTree.h"

#include <QRandomGenerator>
#include <algorithm>
#include <charconv>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

constexpr const char* RelationshipNamespace
    = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* HyperlinkType
    = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";

// The schema's order of a worksheet's children.
const std::initializer_list<std::string_view> worksheetOrder
    = { "sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData", "sheetCalcPr",
          "sheetProtection", "protectedRanges", "scenarios", "autoFilter", "sortState",
          "dataConsolidate", "customSheetViews", "mergeCells", "phoneticPr",
          "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions", "pageMargins",
          "pageSetup", "headerFooter", "rowBreaks", "colBreaks", "customProperties", "cellWatches",
          "ignoredErrors", "smartTags", "drawing", "legacyDrawing", "legacyDrawingHF", "drawingHF",
          "picture", "oleObjects", "controls", "webPublishItems", "tableParts", "extLst" };

std::uint64_t cellKey(int row, int column)
{
    return (static_cast<std::uint64_t>(row) << 15) | static_cast<std::uint64_t>(column);
}

int parseInt(std::string_view text, int fallback)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

QString resolveText(std::string_view type, std::string_view value, std::string_view inlineText,
    const SharedStrings& strings)
{
    if (type == "s")
        return strings.text(parseInt(value, -1));
    if (type == "inlineStr")
        return CellText::fromXml(inlineText);
    if (type == "str")
        return CellText::fromXml(value);
    if (type == "b")
        return value == "1" || value == "true" ? u"TRUE"_s : u"FALSE"_s;
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

void appendAttributeValue(std::string& out, std::string_view value)
{
    for (const char ch : value) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += ch;
        }
    }
}

} // namespace

// Walks the sheet once: finds sheetData and every row's bytes, and takes the
// texts of column 1 and row 1.
class Worksheet::Scanner final : public XmlStream {
public:
    explicit Scanner(Worksheet& sheet)
        : m_sheet(sheet)
    {
        setCharactersWanted(false);
    }

    std::int64_t sheetDataBegin = -1;
    std::int64_t sheetDataEnd = -1;
    int lastColumn = 0;

protected:
    void startElement(std::string_view name, const char** attributes) override
    {
        ++m_depth;
        if (m_depth == 1) {
            if (name != "worksheet")
                fail(u"not a worksheet"_s);
        } else if (m_depth == 2 && name == "sheetData") {
            sheetDataBegin = eventOffset();
            m_sheetDataTagLength = eventLength();
            m_inSheetData = true;
        } else if (m_depth == 3 && m_inSheetData && name == "row") {
            startRow(attributes);
        } else if (m_depth == 4 && m_inRow && name == "c") {
            startCell(attributes);
        } else if (m_depth == 5 && m_inRow && holdsContent(name)) {
            m_sheet.m_lastFilledRow = std::max(m_sheet.m_lastFilledRow, m_row);
        }
        if (m_collect && m_depth >= 5) {
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
    }

    void endElement(std::string_view name) override
    {
        if (m_depth == 2 && m_inSheetData && name == "sheetData") {
            sheetDataEnd = eventLength() == 0 ? sheetDataBegin + m_sheetDataTagLength
                                              : eventOffset() + eventLength();
            m_inSheetData = false;
        } else if (m_depth == 3 && m_inRow) {
            const std::int64_t end
                = eventLength() == 0 ? m_rowBegin + m_rowTagLength : eventOffset() + eventLength();
            m_sheet.m_rows.push_back(RowSpan { m_row, static_cast<std::size_t>(m_rowBegin),
                static_cast<std::size_t>(end - m_rowBegin) });
            m_inRow = false;
        } else if (m_depth == 4 && m_collect) {
            const QString text = resolveText(m_type, m_value, m_inline, m_sheet.m_strings);
            m_sheet.noteText(m_row, m_column, text);
            m_collect = false;
        } else if (m_collect) {
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
        --m_depth;
    }

    void characters(std::string_view text) override
    {
        if (m_inValue)
            m_value.append(text);
        else if (m_inInlineText)
            m_inline.append(text);
    }

private:
    // A value, a formula or an inline string: the cell holds something, even
    // when its text cannot be read (a formula without a cached value, a
    // shared-string index out of range).
    static bool holdsContent(std::string_view name)
    {
        const std::string_view local = name.substr(name.find(':') + 1);
        return local == "v" || local == "f" || local == "is";
    }

    void startRow(const char** attributes)
    {
        int row = m_row + 1;
        if (const char* r = attribute(attributes, "r"))
            row = parseInt(r, 0);
        if (row <= m_row || row > CellAddress::MaxRow) {
            fail(u"row numbers out of order or out of range"_s);
            return;
        }
        m_row = row;
        m_rowBegin = eventOffset();
        m_rowTagLength = eventLength();
        m_column = 0;
        m_inRow = true;
    }

    void startCell(const char** attributes)
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
        m_collect = column == 1 || m_row == 1;
        if (m_collect) {
            const char* type = attribute(attributes, "t");
            m_type = type ? type : "n";
            m_value.clear();
            m_inline.clear();
        }
    }

    Worksheet& m_sheet;
    int m_depth = 0;
    bool m_inSheetData = false;
    int m_sheetDataTagLength = 0;
    bool m_inRow = false;
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

Worksheet::Worksheet(const SharedStrings& strings, StyleSheet& styles)
    : m_strings(strings)
    , m_styles(styles)
{
}

Worksheet::~Worksheet() = default;

std::unique_ptr<Worksheet> Worksheet::load(std::shared_ptr<const std::string> xml,
    std::optional<std::string> relsXml, const SharedStrings& strings, StyleSheet& styles,
    QString* error)
{
    auto setError = [error](const QString& text) {
        if (error)
            *error = u"worksheet: "_s + text;
    };
    std::unique_ptr<Worksheet> sheet(new Worksheet(strings, styles));
    sheet->m_xml = std::move(xml);
    const std::string& text = *sheet->m_xml;

    Scanner scanner(*sheet);
    if (!scanner.feed(text.data(), text.size(), true)) {
        setError(scanner.errorText());
        return nullptr;
    }
    if (scanner.sheetDataBegin < 0 || scanner.sheetDataEnd < scanner.sheetDataBegin) {
        setError(u"no sheetData"_s);
        return nullptr;
    }
    const auto begin = static_cast<std::size_t>(scanner.sheetDataBegin);
    const auto end = static_cast<std::size_t>(scanner.sheetDataEnd);
    const std::size_t nameEnd = text.find_first_of(" \t\r\n/>", begin + 1);
    std::string skeleton;
    skeleton.reserve(text.size() - (end - begin) + 32);
    skeleton.append(text, 0, begin);
    skeleton += '<';
    skeleton.append(text, begin + 1, nameEnd - begin - 1);
    skeleton += "/>";
    skeleton.append(text, end, std::string::npos);
    if (!sheet->m_skeleton.load_buffer(skeleton.data(), skeleton.size(), XmlTree::ParseOptions)) {
        setError(u"malformed XML"_s);
        return nullptr;
    }
    const pugi::xml_node root = sheet->m_skeleton.document_element();
    sheet->m_mainPrefix = XmlTree::prefix(root);

    if (relsXml) {
        if (!sheet->m_rels.load_buffer(relsXml->data(), relsXml->size(), XmlTree::ParseOptions)
            || XmlTree::localName(sheet->m_rels.document_element()) != "Relationships") {
            setError(u"malformed relationships"_s);
            return nullptr;
        }
    }
    for (pugi::xml_node rel = sheet->m_rels.document_element().first_child(); rel;
         rel = rel.next_sibling()) {
        if (rel.type() != pugi::node_element)
            continue;
        const std::string id = rel.attribute("Id").value();
        sheet->m_relationshipsById.emplace(id, rel);
        if (id.starts_with("rId"))
            sheet->m_nextRelationship = std::max(
                sheet->m_nextRelationship, parseInt(std::string_view(id).substr(3), 0) + 1);
    }

    sheet->m_lastRow = sheet->m_rows.empty() ? 0 : sheet->m_rows.back().row;
    sheet->m_lastColumn = scanner.lastColumn;
    if (const pugi::xml_node dimension = XmlTree::child(root, "dimension")) {
        const std::string_view ref = dimension.attribute("ref").value();
        const auto colon = ref.find(':');
        const CellAddress corner
            = CellAddress::parse(colon == std::string_view::npos ? ref : ref.substr(colon + 1));
        if (corner.isValid()) {
            sheet->m_lastRow = std::max(sheet->m_lastRow, corner.row);
            sheet->m_lastColumn = std::max(sheet->m_lastColumn, corner.column);
        }
    }
    sheet->readHyperlinks();
    sheet->readColumns();
    return sheet;
}

void Worksheet::readHyperlinks()
{
    pugi::xml_node root = m_skeleton.document_element();
    for (pugi::xml_attribute attribute = root.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        const std::string_view name = attribute.name();
        if (name.starts_with("xmlns:")
            && std::strcmp(attribute.value(), RelationshipNamespace) == 0)
            m_relationshipPrefix = std::string(name.substr(6));
    }
    const pugi::xml_node links = XmlTree::child(root, "hyperlinks");
    for (pugi::xml_node link = links.first_child(); link; link = link.next_sibling()) {
        if (link.type() != pugi::node_element || XmlTree::localName(link) != "hyperlink")
            continue;
        ++m_hyperlinkCount;
        const CellAddress address = CellAddress::parse(link.attribute("ref").value());
        if (address.isValid()) {
            m_hyperlinks[cellKey(address.row, address.column)] = link;
            m_lastFilledRow = std::max(m_lastFilledRow, address.row);
        }
        for (pugi::xml_attribute attribute = link.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            const std::string_view name = attribute.name();
            if (name.ends_with(":id"))
                ++m_relationshipUses[attribute.value()];
        }
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

void Worksheet::noteText(int row, int column, const QString& text)
{
    if (column == 1) {
        if (m_columnA.size() <= static_cast<std::size_t>(row))
            m_columnA.resize(static_cast<std::size_t>(row) + 1 + m_columnA.size() / 2);
        m_columnA[static_cast<std::size_t>(row)] = text;
    }
    if (row == 1) {
        if (text.isEmpty())
            m_header.erase(column);
        else
            m_header[column] = text;
    }
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
    return resolveText(type, value, inlineText, m_strings);
}

void Worksheet::parseRow(const RowSpan& span, LiveRow& into) const
{
    pugi::xml_document fragment;
    if (!fragment.load_buffer(
            m_xml->data() + span.offset, span.length, XmlTree::ParseOptions | pugi::parse_fragment))
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

Worksheet::LiveRow& Worksheet::liveRow(int row)
{
    auto it = m_liveRows.find(row);
    if (it != m_liveRows.end())
        return it->second;
    LiveRow live;
    if (const RowSpan* span = findSpan(row))
        parseRow(*span, live);
    return m_liveRows.emplace(row, std::move(live)).first->second;
}

QString Worksheet::cellText(int row, int column) const
{
    if (!CellAddress { row, column }.isValid())
        return {};
    if (const auto live = m_liveRows.find(row); live != m_liveRows.end()) {
        const auto cell = live->second.cells.find(column);
        return cell == live->second.cells.end() ? QString() : cell->second.text;
    }
    if (column == 1)
        return static_cast<std::size_t>(row) < m_columnA.size()
            ? m_columnA[static_cast<std::size_t>(row)]
            : QString();
    if (row == 1) {
        const auto it = m_header.find(column);
        return it == m_header.end() ? QString() : it->second;
    }
    const RowSpan* span = findSpan(row);
    if (!span)
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
    LiveRow& live = liveRow(row);
    LiveCell& cell = live.cells[column];
    if (cell.style < 0) {
        const int inherited = live.style >= 0 ? live.style : columnStyle(column);
        cell.style = inherited >= 0 ? inherited : style;
    }
    cell.xml = cellXml(row, column, limited, cell.style);
    cell.text = limited;
    noteText(row, column, limited);
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
    LiveRow& live = liveRow(row);
    LiveCell& cell = live.cells[column];
    cell.style = style;
    cell.xml = cellXml(row, column, cell.text, style);
    m_lastRow = std::max(m_lastRow, row);
    m_lastColumn = std::max(m_lastColumn, column);
    m_dirty = true;
    return true;
}

pugi::xml_node Worksheet::relationship(const std::string& id) const
{
    const auto it = m_relationshipsById.find(id);
    return it == m_relationshipsById.end() ? pugi::xml_node() : it->second;
}

std::string Worksheet::newRelationshipId()
{
    std::string id;
    do {
        id = "rId" + std::to_string(m_nextRelationship++);
    } while (m_relationshipsById.contains(id));
    return id;
}

QString Worksheet::hyperlinkAddress(int row, int column) const
{
    const auto it = m_hyperlinks.find(cellKey(row, column));
    if (it == m_hyperlinks.end())
        return {};
    for (pugi::xml_attribute attribute = it->second.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        if (std::string_view(attribute.name()).ends_with(":id")) {
            if (const pugi::xml_node rel = relationship(attribute.value()))
                return QString::fromUtf8(rel.attribute("Target").value());
        }
    }
    return {};
}

Worksheet::LinkResult Worksheet::setHyperlink(int row, int column, const QString& address)
{
    if (!CellAddress { row, column }.isValid() || address.isEmpty()
        || address.size() > MaxAddressLength)
        return LinkResult::Refused;
    for (const QChar ch : address) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F || ch.isSurrogate()
            || ch.unicode() >= 0xFFFE)
            return LinkResult::Refused;
    }
    const QByteArray target = address.toUtf8();
    pugi::xml_node root = m_skeleton.document_element();
    if (m_relationshipPrefix.empty())
        m_relationshipPrefix = XmlTree::namespacePrefix(root, RelationshipNamespace, "r");
    const std::string idName = m_relationshipPrefix + ":id";

    if (!m_rels.document_element()) {
        m_rels.reset();
        pugi::xml_node declaration = m_rels.append_child(pugi::node_declaration);
        declaration.append_attribute("version").set_value("1.0");
        declaration.append_attribute("encoding").set_value("UTF-8");
        declaration.append_attribute("standalone").set_value("yes");
        m_rels.append_child("Relationships")
            .append_attribute("xmlns")
            .set_value("http://schemas.openxmlformats.org/package/2006/relationships");
    }
    auto addRelationship = [&]() {
        const std::string id = newRelationshipId();
        pugi::xml_node rel = XmlTree::appendElement(m_rels.document_element(), "Relationship");
        rel.append_attribute("Id").set_value(id.c_str());
        rel.append_attribute("Type").set_value(HyperlinkType);
        rel.append_attribute("Target").set_value(target.constData());
        rel.append_attribute("TargetMode").set_value("External");
        m_relationshipsById.emplace(id, rel);
        m_relationshipUses[id] = 1;
        return id;
    };

    const std::uint64_t key = cellKey(row, column);
    if (const auto existing = m_hyperlinks.find(key); existing != m_hyperlinks.end()) {
        pugi::xml_node link = existing->second;
        pugi::xml_attribute idAttribute = link.attribute(idName.c_str());
        pugi::xml_node rel = idAttribute ? relationship(idAttribute.value()) : pugi::xml_node();
        if (rel && m_relationshipUses[idAttribute.value()] == 1
            && std::strcmp(rel.attribute("Type").value(), HyperlinkType) == 0) {
            rel.attribute("Target").set_value(target.constData());
            if (!rel.attribute("TargetMode"))
                rel.append_attribute("TargetMode");
            rel.attribute("TargetMode").set_value("External");
        } else {
            if (idAttribute)
                --m_relationshipUses[idAttribute.value()];
            else
                idAttribute = link.append_attribute(idName.c_str());
            idAttribute.set_value(addRelationship().c_str());
        }
        link.remove_attribute("location");
        m_relsDirty = true;
        m_dirty = true;
        return LinkResult::Linked;
    }
    if (m_hyperlinkCount >= MaxHyperlinks)
        return LinkResult::LimitReached;

    pugi::xml_node links = XmlTree::ensureChild(root, "hyperlinks", worksheetOrder);
    pugi::xml_node link = XmlTree::appendElement(links, "hyperlink");
    link.append_attribute("ref").set_value(CellAddress { row, column }.toString().c_str());
    link.append_attribute(idName.c_str()).set_value(addRelationship().c_str());
    m_hyperlinks[key] = link;
    ++m_hyperlinkCount;
    m_lastRow = std::max(m_lastRow, row);
    m_lastFilledRow = std::max(m_lastFilledRow, row);
    m_lastColumn = std::max(m_lastColumn, column);
    m_relsDirty = true;
    m_dirty = true;
    return LinkResult::Linked;
}

int Worksheet::firstEmptyRowInColumnA(int fromRow) const
{
    int row = std::max(fromRow, 1);
    while (static_cast<std::size_t>(row) < m_columnA.size()
        && !m_columnA[static_cast<std::size_t>(row)].isEmpty())
        ++row;
    return row;
}

std::shared_ptr<const std::string> Worksheet::serialize()
{
    pugi::xml_node root = m_skeleton.document_element();
    if (pugi::xml_node dimension = XmlTree::child(root, "dimension")) {
        const std::string ref = m_lastRow == 0
            ? std::string("A1")
            : "A1:" + CellAddress { m_lastRow, std::max(m_lastColumn, 1) }.toString();
        if (!dimension.attribute("ref"))
            dimension.append_attribute("ref");
        dimension.attribute("ref").set_value(ref.c_str());
    }
    if (pugi::xml_node links = XmlTree::child(root, "hyperlinks");
        links && !XmlTree::child(links, "hyperlink"))
        root.remove_child(links);

    const std::string marker
        = "zp-rows-" + std::to_string(QRandomGenerator::global()->generate64());
    pugi::xml_node sheetData = XmlTree::child(root, "sheetData");
    pugi::xml_node comment = sheetData.append_child(pugi::node_comment);
    comment.set_value(marker.c_str());
    const std::string printed = XmlTree::print(m_skeleton);
    sheetData.remove_child(comment);
    const std::string placeholder = "<!--" + marker + "-->";
    const std::size_t at = printed.find(placeholder);

    auto out = std::make_shared<std::string>();
    out->reserve(printed.size() + m_xml->size() + m_liveRows.size() * 512);
    out->append(printed, 0, at);
    std::vector<RowSpan> spans;
    spans.reserve(m_rows.size() + m_liveRows.size());

    const std::string& p = m_mainPrefix;
    auto writeLive = [&](int row, const LiveRow& live) {
        const std::size_t begin = out->size();
        *out += '<';
        *out += p;
        *out += "row r=\"";
        *out += std::to_string(row);
        *out += '"';
        *out += live.attributes;
        if (live.cells.empty() && live.tail.empty()) {
            *out += "/>";
        } else {
            *out += '>';
            for (const auto& [column, cell] : live.cells)
                *out += cell.xml;
            *out += live.tail;
            *out += "</";
            *out += p;
            *out += "row>";
        }
        spans.push_back(RowSpan { row, begin, out->size() - begin });
    };
    auto original = m_rows.begin();
    auto live = m_liveRows.begin();
    while (original != m_rows.end() || live != m_liveRows.end()) {
        if (live == m_liveRows.end() || (original != m_rows.end() && original->row < live->first)) {
            spans.push_back(RowSpan { original->row, out->size(), original->length });
            out->append(*m_xml, original->offset, original->length);
            ++original;
        } else {
            if (original != m_rows.end() && original->row == live->first)
                ++original;
            writeLive(live->first, live->second);
            ++live;
        }
    }
    out->append(printed, at + placeholder.size(), std::string::npos);

    m_pendingRows = std::move(spans);
    m_pendingXml = std::move(out);
    return m_pendingXml;
}

std::optional<std::string> Worksheet::serializeRelationships() const
{
    if (!m_relsDirty)
        return std::nullopt;
    return XmlTree::print(m_rels);
}

void Worksheet::committed()
{
    if (!m_pendingXml)
        return;
    m_xml = std::move(m_pendingXml);
    m_rows = std::move(m_pendingRows);
    m_pendingXml.reset();
    m_pendingRows.clear();
    m_liveRows.clear();
    m_relsDirty = false;
    m_dirty = false;
}

} // namespace zp
