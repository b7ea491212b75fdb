#pragma once

#include "xlsx/TextArena.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

namespace zp {

class MemoryBudget;
class SharedStrings;

// The texts of one column of a worksheet by row, in 8 bytes a row beside the
// text's own bytes: a cell that shows a shared string keeps the string's index
// (a string shown by a million cells is kept once, by the table), any other
// text is kept in an arena.
class ColumnTexts {
public:
    // strings and budget, from which the column takes what it holds, must
    // outlive the column.
    ColumnTexts(const SharedStrings& strings, MemoryBudget& budget);

    // False, and the row unchanged, when the budget cannot hold the text.
    bool setText(int row, QStringView text);
    // The cell shows item index of the shared strings.
    bool setShared(int row, int index);

    // Empty for an empty row or one never set.
    QString text(int row) const;

private:
    static constexpr std::uint64_t SharedFlag = std::uint64_t { 1 } << 63;
    // The row's slot; nullptr when the budget cannot hold it.
    std::uint64_t* slot(int row);

    const SharedStrings& m_strings;
    MemoryBudget& m_budget;
    std::vector<std::uint64_t> m_slots; // row -> arena offset, or SharedFlag | index
    TextArena m_arena;
};

} // namespace zp
