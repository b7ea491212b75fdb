#pragma once

#include "util/Result.h"
#include "xlsx/TextArena.h"

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zp {

class MemoryBudget;
class XlsxPackage;

// The shared-string table of a workbook, read once and kept compactly (one
// UTF-8 pool). Each item's text is the concatenation of its <t> elements,
// rich-text runs included and phonetic runs left out. The workbook engine
// writes inline strings, so the table is never rewritten.
class SharedStrings {
public:
    // Reads the table from part of package, taking what it keeps from budget.
    // Fails when the part is damaged, malformed or too large, or the table
    // does not fit in budget; the table is then empty and budget as it was.
    Result<void> load(const XlsxPackage& package, std::string_view part, MemoryBudget& budget);

    int count() const { return static_cast<int>(m_offsets.size()); }

    // The text of item index, escapes decoded; empty when out of range.
    QString text(int index) const;

    // Adds an item (used while loading); false when budget cannot hold it.
    bool append(std::string_view utf8, MemoryBudget& budget);

private:
    TextArena m_pool;
    std::vector<TextArena::Offset> m_offsets; // item i in m_pool
    std::size_t heldBytes() const;
};

} // namespace zp
