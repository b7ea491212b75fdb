// Saving a worksheet: its tree with the rows put back in, unchanged rows byte
// for byte.
#include "xlsx/CellAddress.h"
#include "xlsx/MemoryBudget.h"
#include "xlsx/Worksheet.h"
#include "xlsx/XmlTree.h"

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

std::string_view Worksheet::rowBytes(const RowSpan& span) const
{
    const auto next = std::upper_bound(m_textStarts.begin(), m_textStarts.end(), span.offset);
    const auto index = static_cast<std::size_t>(next - m_textStarts.begin()) - 1;
    return std::string_view(*m_texts[index]).substr(span.offset - m_textStarts[index], span.length);
}

template <typename Visit>
void Worksheet::forEachRow(const std::vector<RowSpan>& liveSpans, Visit visit) const
{
    auto stored = m_rows.begin();
    auto live = liveSpans.begin();
    while (stored != m_rows.end() || live != liveSpans.end()) {
        if (live == liveSpans.end() || (stored != m_rows.end() && stored->row < live->row)) {
            visit(*stored, false);
            ++stored;
        } else {
            if (stored != m_rows.end() && stored->row == live->row)
                ++stored;
            visit(*live, true);
            ++live;
        }
    }
}

// Rows that follow each other in one text go to the package as one piece.
std::shared_ptr<const XlsxPackage::PartText> Worksheet::serialize()
{
    std::string placeholder;
    std::string printed = printSkeleton(placeholder);
    const std::size_t at = printed.find(placeholder);
    auto tail = std::make_shared<const std::string>(printed.substr(at + placeholder.size()));
    printed.resize(at);
    auto head = std::make_shared<const std::string>(std::move(printed));

    auto liveText = std::make_shared<std::string>();
    std::vector<RowSpan> liveSpans;
    liveSpans.reserve(m_liveRows.size());
    for (const auto& [row, live] : m_liveRows) {
        const std::size_t begin = liveText->size();
        appendLiveRow(*liveText, row, live);
        liveSpans.push_back(
            RowSpan { begin, static_cast<std::uint32_t>(liveText->size() - begin), row });
    }

    auto text = std::make_shared<XlsxPackage::PartText>();
    text->owners = m_texts;
    text->owners.insert(text->owners.end(), { head, tail, liveText });
    text->pieces.push_back(*head);
    forEachRow(liveSpans, [&](const RowSpan& span, bool written) {
        const std::string_view bytes = written
            ? std::string_view(*liveText).substr(span.offset, span.length)
            : rowBytes(span);
        std::string_view& last = text->pieces.back();
        if (last.data() + last.size() == bytes.data())
            last = std::string_view(last.data(), last.size() + bytes.size());
        else
            text->pieces.push_back(bytes);
    });
    text->pieces.push_back(*tail);

    m_pendingText = std::move(liveText);
    m_pendingRows = std::move(liveSpans);
    return text;
}

std::optional<std::string> Worksheet::serializeRelationships() const
{
    return m_links.serializeRelationships();
}

void Worksheet::committed()
{
    if (!m_pendingText)
        return;
    const std::uint64_t start = m_textStarts.back() + m_texts.back()->size();
    std::vector<RowSpan> rows;
    rows.reserve(m_rows.size() + m_pendingRows.size());
    forEachRow(m_pendingRows, [&rows, start](RowSpan span, bool written) {
        if (written)
            span.offset += start;
        rows.push_back(span);
    });
    // The rows written stay as the text just saved; the cells that held them go.
    m_budget.giveBack(m_liveBytes);
    m_liveBytes = 0;
    m_budget.take(std::min(m_pendingText->capacity(), m_budget.left()));
    if (!m_pendingText->empty()) {
        m_texts.push_back(std::move(m_pendingText));
        m_textStarts.push_back(start);
    }
    m_rows = std::move(rows);
    m_pendingText.reset();
    m_pendingRows.clear();
    m_liveRows.clear();
    m_links.committed();
    m_dirty = false;
}

} // namespace zp
