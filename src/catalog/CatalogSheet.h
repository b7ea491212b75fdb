#pragma once

#include "util/Result.h"

#include <QString>

namespace zp {

// The worksheet as the crawler and the product extraction use it: rows of
// text cells with links, property columns found by header, the stored-product
// lookup, and saving. Rows and columns are 1-based; row 1 is the header row.
// The workbook layout implements it over the .xlsx engine; tests may fake it.
class CatalogSheet {
public:
    // The last row of a sheet; a product needs a row at or above it.
    static constexpr int MaxRow = 1048576;
    // The characters (UTF-16 code units) a cell keeps; writeCell() cuts a
    // longer text.
    static constexpr int MaxCellLength = 32767;

    virtual ~CatalogSheet() = default;

    // Writes text into a cell (stored as a string, text-formatted, cut to
    // MaxCellLength). Returns false when the cell cannot be written (outside
    // the sheet).
    virtual bool writeCell(int row, int column, const QString& text) = 0;

    // Makes the cell a link to address, which is an absolute URL or a path
    // relative to the workbook's folder ("Images/abc.jpg"). The cell keeps
    // showing its own text. Returns false when the link is refused (for
    // instance at the sheet's hyperlink limit); the cell is unchanged then.
    virtual bool linkCell(int row, int column, const QString& address) = 0;

    // The column whose header (row 1, column 15 onwards) is exactly name,
    // adding it in the first empty header cell after the last property
    // column when absent. Returns 0 when no column can be had (header full).
    virtual int propertyColumn(const QString& name) = 0;

    // True when a product is already in column A: a cell whose link address
    // equals productUrl, or whose text equals lastSegment without regard to
    // case. Knows the rows written in this run as well. O(1).
    virtual bool isStored(const QString& productUrl, const QString& lastSegment) const = 0;

    // Whether the workbook can take one more product's row: false once what
    // it holds in memory comes near the bound past which it could not be
    // opened again.
    virtual bool hasRoom() const { return true; }

    // The picture file name (column 14) of the stored product whose
    // column-1 link is productUrl; empty when there is none.
    virtual QString storedPicture(const QString& productUrl) const
    {
        Q_UNUSED(productUrl);
        return {};
    }

    // The text of a cell; empty when it is empty or outside the sheet.
    virtual QString cellText(int row, int column) const
    {
        Q_UNUSED(row);
        Q_UNUSED(column);
        return {};
    }

    // Leaves row `row` (2 or more) and every row after it out of the sheet:
    // their cells and links go, and isStored() no longer knows their
    // products, so that the save does not hold them and a later row may take
    // their place. Only for rows written since the last save.
    virtual void discardRowsFrom(int row) { Q_UNUSED(row); }

    // Saves the workbook to its file. Fails, with the reason, when the save
    // failed (the file on disk is then the previous one, intact, unless the
    // file was replaced and only reading it back failed).
    virtual Result<void> save() = 0;
};

} // namespace zp
