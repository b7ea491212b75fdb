#include "xlsx/ColumnTexts.h"

#include "xlsx/MemoryBudget.h"
#include "xlsx/SharedStrings.h"

namespace zp {

ColumnTexts::ColumnTexts(const SharedStrings& strings, MemoryBudget& budget)
    : m_strings(strings)
    , m_budget(budget)
    , m_arena(&budget)
{
}

std::uint64_t* ColumnTexts::slot(int row)
{
    const auto index = static_cast<std::size_t>(row);
    if (m_slots.size() <= index) {
        const std::size_t size = index + 1 + m_slots.size() / 2;
        if (!reserveWithin(m_slots, size, m_budget))
            return nullptr;
        m_slots.resize(size, 0);
    }
    return &m_slots[index];
}

bool ColumnTexts::setText(int row, QStringView text)
{
    std::uint64_t* held = slot(row);
    if (!held)
        return false;
    const std::optional<TextArena::Offset> offset = m_arena.tryAdd(TextArena::encode(text));
    if (offset)
        *held = *offset;
    return offset.has_value();
}

bool ColumnTexts::setShared(int row, int index)
{
    std::uint64_t* held = slot(row);
    if (held)
        *held = SharedFlag | static_cast<std::uint32_t>(index);
    return held != nullptr;
}

QString ColumnTexts::text(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_slots.size())
        return {};
    const std::uint64_t value = m_slots[static_cast<std::size_t>(row)];
    if (value & SharedFlag)
        return m_strings.text(static_cast<int>(value & ~SharedFlag));
    return TextArena::decode(m_arena.at(value));
}

} // namespace zp
