#pragma once

#include <optional>

namespace zp {

// The cells a worksheet indexes as it reads them, for a caller that looks
// rows up by one column or columns up by one row: the text of every cell in
// keyColumn, and in headerRow. Those cells are then read without taking their
// rows apart; any other cell of a stored row costs parsing that row.
struct SheetIndex {
    std::optional<int> keyColumn;
    std::optional<int> headerRow;

    bool holds(int row, int column) const { return column == keyColumn || row == headerRow; }
};

} // namespace zp
