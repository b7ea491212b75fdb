#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zp {

class SharedStrings;

// Small pieces of worksheet XML shared by the scanner, the row store and the
// hyperlinks.
namespace WorksheetXml {

// The schema's order of a worksheet's children.
extern const std::initializer_list<std::string_view> ChildOrder;

// One number for a cell, for hash maps.
inline std::uint64_t cellKey(int row, int column)
{
    return (static_cast<std::uint64_t>(row) << 15) | static_cast<std::uint64_t>(column);
}

// The decimal number text, or fallback when it is not one entirely.
int parseInt(std::string_view text, int fallback);

// The text a cell of type t= shows, from its <v> value or its inline text.
QString resolveText(std::string_view type, std::string_view value, std::string_view inlineText,
    const SharedStrings& strings);

// Appends value escaped for a double-quoted attribute.
void appendAttributeValue(std::string& out, std::string_view value);

} // namespace WorksheetXml
} // namespace zp
