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
// byte, written ones (printed beforehand into liveText, at liveSpans) anew.
// Returns where each row now lies in out.
std::vector<Worksheet::RowSpan> Worksheet::appendRows(
    std::string& out, const std::string& liveText, const std::vector<RowSpan>& liveSpans) const
{
    std::vector<RowSpan> spans;
    spans.reserve(m_rows.size() + liveSpans.size());
    auto original = m_rows.begin();
    auto live = liveSpans.begin();
    while (original != m_rows.end() || live != liveSpans.end()) {
        if (live == liveSpans.end() || (original != m_rows.end() && original->row < live->row)) {
            spans.push_back(RowSpan { out.size(), original->length, original->row });
            out.append(*m_xml, original->offset, original->length);
            ++original;
        } else {
            if (original != m_rows.end() && original->row == live->row)
                ++original;
            spans.push_back(RowSpan { out.size(), live->length, live->row });
            out.append(liveText, live->offset, live->length);
            ++live;
        }
    }
    return spans;
}

// The new XML is reserved at its final size: growing it by doubling would
// hold up to twice the sheet besides the sheet as last saved.
std::shared_ptr<const std::string> Worksheet::serialize()
{
    std::string placeholder;
    const std::string printed = printSkeleton(placeholder);
    const std::size_t at = printed.find(placeholder);

    std::string liveText;
    std::vector<RowSpan> liveSpans;
    liveSpans.reserve(m_liveRows.size());
    for (const auto& [row, live] : m_liveRows) {
        const std::size_t begin = liveText.size();
        appendLiveRow(liveText, row, live);
        liveSpans.push_back(
            RowSpan { begin, static_cast<std::uint32_t>(liveText.size() - begin), row });
    }
    std::size_t rowBytes = liveText.size();
    for (const RowSpan& span : m_rows)
        rowBytes += span.length;

    auto out = std::make_shared<std::string>();
    out->reserve(printed.size() - placeholder.size() + rowBytes);
    out->append(printed, 0, at);
    std::vector<RowSpan> spans = appendRows(*out, liveText, liveSpans);
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
