#include "xlsx/CellAddress.h"

namespace zp {

std::string CellAddress::columnName(int column)
{
    if (column < 1 || column > MaxColumn)
        return {};
    std::string name;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        name.insert(name.begin(), static_cast<char>('A' + digit));
        column = (column - 1) / 26;
    }
    return name;
}

std::string CellAddress::toString() const
{
    if (!isValid())
        return {};
    return columnName(column) + std::to_string(row);
}

int CellAddress::parseColumn(std::string_view text)
{
    if (text.empty() || text.size() > 3)
        return 0;
    int column = 0;
    for (const char ch : text) {
        int digit = 0;
        if (ch >= 'A' && ch <= 'Z')
            digit = ch - 'A' + 1;
        else if (ch >= 'a' && ch <= 'z')
            digit = ch - 'a' + 1;
        else
            return 0;
        column = column * 26 + digit;
    }
    return column <= MaxColumn ? column : 0;
}

CellAddress CellAddress::parse(std::string_view text)
{
    if (const auto colon = text.find(':'); colon != std::string_view::npos)
        text = text.substr(0, colon);
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$')
        ++i;
    const std::size_t columnStart = i;
    while (i < text.size()
        && ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z')))
        ++i;
    const int column = parseColumn(text.substr(columnStart, i - columnStart));
    if (i < text.size() && text[i] == '$')
        ++i;
    if (column == 0 || i >= text.size() || i + 7 < text.size())
        return {};
    int row = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return {};
        row = row * 10 + (text[i] - '0');
    }
    CellAddress address { row, column };
    return address.isValid() ? address : CellAddress {};
}

} // namespace zp
