// Saving a worksheet: its tree with the rows put back in, unchanged rows byte
// for byte.
#include "workbook/CellAddress.h"
#include "workbook/Worksheet.h"
#include "workbook/XmlTree.h"

#include <QRandomGenerator>
#include <algorithm>

namespace zp {

// The sheet's tree printed with a unique comment where the rows go; the
// comment's text is returned in placeholder.
std::string Worksheet::printSkeleton(std::string& placeholder)
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
    std::string printed = XmlTree::print(m_skeleton);
    sheetData.remove_child(comment);
    placeholder = "<!--" + marker + "-->";
    return printed;
}

void Worksheet::appendLiveRow(std::string& out, int row, const LiveRow& live) const
{
    const std::string& p = m_mainPrefix;
    out += '<';
    out += p;
    out += "row r=\"";
    out += std::to_string(row);
    out += '"';
    out += live.attributes;
    if (live.cells.empty() && live.tail.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    for (const auto& [column, cell] : live.cells)
        out += cell.xml;
    out += live.tail;
    out += "</";
    out += p;
    out += "row>";
}

// Appends every row in order: rows not written since the last save byte for
// byte, written ones anew. Returns where each row now lies in out.
std::vector<Worksheet::RowSpan> Worksheet::appendRows(std::string& out) const
{
    std::vector<RowSpan> spans;
    spans.reserve(m_rows.size() + m_liveRows.size());
    auto original = m_rows.begin();
    auto live = m_liveRows.begin();
    while (original != m_rows.end() || live != m_liveRows.end()) {
        if (live == m_liveRows.end() || (original != m_rows.end() && original->row < live->first)) {
            spans.push_back(RowSpan { original->row, out.size(), original->length });
            out.append(*m_xml, original->offset, original->length);
            ++original;
        } else {
            if (original != m_rows.end() && original->row == live->first)
                ++original;
            const std::size_t begin = out.size();
            appendLiveRow(out, live->first, live->second);
            spans.push_back(RowSpan { live->first, begin, out.size() - begin });
            ++live;
        }
    }
    return spans;
}

std::shared_ptr<const std::string> Worksheet::serialize()
{
    std::string placeholder;
    const std::string printed = printSkeleton(placeholder);
    const std::size_t at = printed.find(placeholder);

    auto out = std::make_shared<std::string>();
    out->reserve(printed.size() + m_xml->size() + m_liveRows.size() * 512);
    out->append(printed, 0, at);
    std::vector<RowSpan> spans = appendRows(*out);
    out->append(printed, at + placeholder.size(), std::string::npos);

    m_pendingRows = std::move(spans);
    m_pendingXml = std::move(out);
    return m_pendingXml;
}

std::optional<std::string> Worksheet::serializeRelationships() const
{
    return m_links.serializeRelationships();
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
    m_links.committed();
    m_dirty = false;
}

} // namespace zp
