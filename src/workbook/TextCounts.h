#pragma once

#include "xlsx/TextArena.h"

#include <QStringView>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zp {

class MemoryBudget;

// How many rows hold each text, and the last row given with it: the index
// behind "is this product stored?" on a sheet of up to a million rows. Keys
// are compared by all their bytes (TextArena's exact encoding), never by hash
// alone, so no new text is ever taken for a stored one. Each distinct key is
// kept once: its bytes in an arena, 16 bytes of entry and 4 to 8 bytes of
// hash table. The empty text is never counted.
class TextCounts {
public:
    // With a budget, the index takes from it what it holds.
    explicit TextCounts(MemoryBudget* budget = nullptr);

    // One more row holds key; row becomes the key's last row. False, and
    // nothing changed, when the budget cannot hold a new key.
    bool add(QStringView key, int row);
    // One row fewer holds key (nothing when none did).
    void remove(QStringView key);

    bool contains(QStringView key) const;
    // The last row add() gave with key; 0 when none holds it.
    int lastRow(QStringView key) const;

    // Distinct keys ever added, counted or not.
    std::size_t keyCount() const { return m_entries.size(); }

private:
    struct Entry {
        TextArena::Offset key;
        int count;
        int row;
    };
    static constexpr std::uint32_t Free = 0;

    std::size_t hashOf(std::string_view bytes) const;
    // The table slot holding bytes, or the free slot where they would go.
    std::size_t slotOf(std::string_view bytes, std::size_t hash) const;
    const Entry* find(QStringView key) const;
    bool grow();

    TextArena m_keys;
    std::vector<Entry> m_entries;
    std::vector<std::uint32_t> m_table; // entry index + 1, or Free; a power of two long
    std::size_t m_seed;
    MemoryBudget* m_budget;
};

} // namespace zp
