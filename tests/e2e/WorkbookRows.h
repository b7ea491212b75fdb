#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace zp::test {

// A worksheet as openpyxl reads it: the header row and the product rows, each
// cell with its text and link target.
struct SheetCell {
    QString text;
    QString link;
};

class WorkbookRows {
public:
    // Reads file through openpyxl; nullopt when openpyxl cannot read it.
    static std::optional<WorkbookRows> read(const QString& file);

    const QStringList& header() const { return m_header; }
    int productCount() const { return int(m_rows.size()); }
    // Cell of product row index (0 = sheet row 2) in 1-based column.
    SheetCell cell(int product, int column) const;
    // Cell of the product row in the column headed header; empty when none.
    SheetCell cell(int product, const QString& header) const;
    QStringList orderNumbers() const;

private:
    QStringList m_header;
    std::vector<std::vector<SheetCell>> m_rows;
};

} // namespace zp::test
