#include "workbook/TextCounts.h"

#include "xlsx/MemoryBudget.h"

#include <QHash>

namespace zp {

TextCounts::TextCounts(MemoryBudget* budget)
    : m_keys(budget)
    , m_table(16, Free)
    , m_seed(QHashSeed::globalSeed())
    , m_budget(budget)
{
}

// Seeded, so that a file cannot be made to put every key in one chain.
std::size_t TextCounts::hashOf(std::string_view bytes) const
{
    return qHash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), m_seed);
}

std::size_t TextCounts::slotOf(std::string_view bytes, std::size_t hash) const
{
    const std::size_t mask = m_table.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t index = m_table[slot];
        if (index == Free || m_keys.at(m_entries[index - 1].key) == bytes)
            return slot;
    }
}

// Keeps the table at most half full, so that a probe ends soon.
bool TextCounts::grow()
{
    const std::size_t bytes = m_table.size() * 2 * sizeof(std::uint32_t);
    if (m_budget && !m_budget->take(bytes))
        return false;
    std::vector<std::uint32_t> table(m_table.size() * 2, Free);
    m_table.swap(table);
    if (m_budget)
        m_budget->giveBack(table.size() * sizeof(std::uint32_t));
    for (std::uint32_t index = 1; index <= m_entries.size(); ++index) {
        const std::string_view bytes = m_keys.at(m_entries[index - 1].key);
        m_table[slotOf(bytes, hashOf(bytes))] = index;
    }
    return true;
}

bool TextCounts::add(QStringView key, int row)
{
    if (key.isEmpty())
        return true;
    const std::string bytes = TextArena::encode(key);
    const std::size_t hash = hashOf(bytes);
    std::size_t slot = slotOf(bytes, hash);
    if (m_table[slot] == Free) {
        if (m_budget && !reserveWithin(m_entries, m_entries.size() + 1, *m_budget))
            return false;
        if ((m_entries.size() + 1) * 2 > m_table.size()) {
            if (!grow())
                return false;
            slot = slotOf(bytes, hash);
        }
        const std::optional<TextArena::Offset> stored = m_keys.tryAdd(bytes);
        if (!stored)
            return false;
        m_entries.push_back(Entry { *stored, 0, 0 });
        m_table[slot] = static_cast<std::uint32_t>(m_entries.size());
    }
    Entry& entry = m_entries[m_table[slot] - 1];
    ++entry.count;
    entry.row = row;
    return true;
}

void TextCounts::remove(QStringView key)
{
    if (key.isEmpty())
        return;
    const std::string bytes = TextArena::encode(key);
    const std::uint32_t index = m_table[slotOf(bytes, hashOf(bytes))];
    if (index != Free && m_entries[index - 1].count > 0)
        --m_entries[index - 1].count;
}

const TextCounts::Entry* TextCounts::find(QStringView key) const
{
    if (key.isEmpty())
        return nullptr;
    const std::string bytes = TextArena::encode(key);
    const std::uint32_t index = m_table[slotOf(bytes, hashOf(bytes))];
    return index != Free && m_entries[index - 1].count > 0 ? &m_entries[index - 1] : nullptr;
}

bool TextCounts::contains(QStringView key) const
{
    return find(key) != nullptr;
}

int TextCounts::lastRow(QStringView key) const
{
    const Entry* entry = find(key);
    return entry ? entry->row : 0;
}

} // namespace zp
