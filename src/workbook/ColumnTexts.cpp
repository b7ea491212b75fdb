#include "workbook/ColumnTexts.h"

#include "workbook/SharedStrings.h"

namespace zp {

ColumnTexts::ColumnTexts(const SharedStrings& strings)
    : m_strings(strings)
{
}

std::uint64_t& ColumnTexts::slot(int row)
{
    const auto index = static_cast<std::size_t>(row);
    if (m_slots.size() <= index)
        m_slots.resize(index + 1 + m_slots.size() / 2, 0);
    return m_slots[index];
}

void ColumnTexts::setText(int row, QStringView text)
{
    slot(row) = m_arena.add(TextArena::encode(text));
}

void ColumnTexts::setShared(int row, int index)
{
    slot(row) = SharedFlag | static_cast<std::uint32_t>(index);
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
