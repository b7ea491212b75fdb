#include "xlsx/SharedStrings.h"

#include "xlsx/CellText.h"
#include "xlsx/MemoryBudget.h"
#include "xlsx/XlsxPackage.h"
#include "xlsx/XmlStream.h"

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

class SharedStringReader final : public XmlStream {
public:
    SharedStringReader(SharedStrings& table, MemoryBudget& budget)
        : m_table(table)
        , m_budget(budget)
    {
    }

protected:
    void startElement(std::string_view name, const char**) override
    {
        ++m_depth;
        if (m_depth == 2 && name == "si") {
            m_item.clear();
        } else if (m_depth == 3 && name == "t") {
            m_inText = true;
        } else if (m_depth == 3 && name == "r") {
            m_inRun = true;
        } else if (m_depth == 4 && m_inRun && name == "t") {
            m_inText = true;
        }
    }

    void endElement(std::string_view name) override
    {
        if (m_depth == 2 && name == "si" && !addItem())
            fail(u"too large"_s, Failure::Kind::TooLarge);
        else if (name == "t")
            m_inText = false;
        else if (m_depth == 3 && name == "r")
            m_inRun = false;
        --m_depth;
    }

    void characters(std::string_view text) override
    {
        if (!m_inText)
            return;
        // The item is held only until it is in the table.
        MemoryBudget whileRead = m_budget;
        if (!reserveWithin(m_item, m_item.size() + text.size(), whileRead))
            return fail(u"too large"_s, Failure::Kind::TooLarge);
        m_item.append(text);
    }

private:
    // The item's own block is held until the table has its copy.
    bool addItem()
    {
        if (!m_budget.take(m_item.capacity()))
            return false;
        const bool added = m_table.append(m_item, m_budget);
        m_budget.giveBack(m_item.capacity());
        return added;
    }

    SharedStrings& m_table;
    MemoryBudget& m_budget;
    std::string m_item;
    int m_depth = 0;
    bool m_inText = false;
    bool m_inRun = false;
};

} // namespace

bool SharedStrings::append(std::string_view utf8, MemoryBudget& budget)
{
    if (!reserveWithin(m_offsets, m_offsets.size() + 1, budget))
        return false;
    const std::optional<TextArena::Offset> stored = m_pool.tryAdd(utf8);
    if (stored)
        m_offsets.push_back(*stored);
    return stored.has_value();
}

std::size_t SharedStrings::heldBytes() const
{
    return m_pool.heldBytes() + m_offsets.capacity() * sizeof(TextArena::Offset);
}

QString SharedStrings::text(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return CellText::fromXml(m_pool.at(m_offsets[static_cast<std::size_t>(index)]));
}

Result<void> SharedStrings::load(
    const XlsxPackage& package, std::string_view part, MemoryBudget& budget)
{
    budget.giveBack(heldBytes());
    m_pool = TextArena(&budget);
    m_offsets = {};
    SharedStringReader reader(*this, budget);
    Result<void> read = package.readChunks(part,
        [&reader](const char* data, std::size_t size) { return reader.feed(data, size, false); });
    if (read && reader.feed(nullptr, 0, true))
        return {};
    budget.giveBack(heldBytes());
    m_pool = TextArena();
    m_offsets = {};
    if (!reader.errorText().isEmpty())
        return reader.failure().within(u"shared strings"_s);
    return std::move(read).failure();
}

} // namespace zp
