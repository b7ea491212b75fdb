#pragma once

#include "workbook/TextArena.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

namespace zp {

class SharedStrings;

// The texts of one column of a worksheet by row, in 8 bytes a row beside the
// text's own bytes: a cell that shows a shared string keeps the string's index
// (a string shown by a million cells is kept once, by the table), any other
// text is kept in an arena.
class ColumnTexts {
public:
    // strings must outlive the column.
    explicit ColumnTexts(const SharedStrings& strings);

    void setText(int row, QStringView text);
    // The cell shows item index of the shared strings.
    void setShared(int row, int index);

    // Empty for an empty row or one never set.
    QString text(int row) const;

private:
    static constexpr std::uint64_t SharedFlag = std::uint64_t { 1 } << 63;
    std::uint64_t& slot(int row);

    const SharedStrings& m_strings;
    std::vector<std::uint64_t> m_slots; // row -> arena offset, or SharedFlag | index
    TextArena m_arena;
};

} // namespace zp
