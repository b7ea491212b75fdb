#pragma once

#include <string>
#include <string_view>

namespace zp {

// A1-style cell references of a worksheet. Rows and columns are 1-based.
struct CellAddress {
    int row = 0;
    int column = 0;

    // The worksheet's bounds (Excel 2007 and later).
    static constexpr int MaxRow = 1048576;
    static constexpr int MaxColumn = 16384;

    bool isValid() const { return row >= 1 && row <= MaxRow && column >= 1 && column <= MaxColumn; }

    // "A", "Z", "AA", ... "XFD"; empty for a column outside 1..MaxColumn.
    static std::string columnName(int column);

    // "B7" for row 7, column 2; empty when the address is not valid.
    std::string toString() const;

    // Parses "B7" (the top-left cell of "B7:C9" too, and "$B$7"). Returns an
    // invalid address (row 0) when text is not a cell reference in bounds.
    static CellAddress parse(std::string_view text);

    // Parses a column name alone ("B" gives 2); 0 when not one.
    static int parseColumn(std::string_view text);

    friend bool operator==(const CellAddress&, const CellAddress&) = default;
};

} // namespace zp
