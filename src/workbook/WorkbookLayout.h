#pragma once

#include "catalog/CatalogSheet.h"
#include "catalog/RowLayout.h"
#include "workbook/TextCounts.h"
#include "xlsx/XlsxPackage.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>

namespace zp {

class Workbook;

// The catalogue's workbook: a table with 14 fixed columns (order number,
// description, accessories, ten category levels, picture) and one column per
// product property after them, one product per row from row 2 on. Works on
// the first worksheet of an .xlsx file through the workbook engine.
//
// Limits (Excel's, kept so that Excel opens the file without repair):
// - cell text is cut to 32,767 characters (writeCell still returns true);
// - at 65,530 hyperlinks in the sheet linkCell() returns false and adds no
//   link; cells are still written and isStored() still finds them by text;
// - linkCell() refuses addresses over 2,079 characters or with control
//   characters;
// - propertyColumn() returns 0 once column 16,384 is taken; writeCell() and
//   linkCell() return false outside row 1..1,048,576 / column 1..16,384.
class WorkbookLayout final : public CatalogSheet {
public:
    static constexpr int FixedColumnCount = RowLayout::FixedColumnCount;
    static constexpr int FirstPropertyColumn = RowLayout::FirstPropertyColumn;
    // C1 holds CheckText in a workbook of this layout.
    static constexpr int CheckColumn = RowLayout::AccessoriesColumn;

    // The workbook's file name in the program folder.
    inline static const QString FileName = QStringLiteral("Zavrinello.xlsx");
    // The text of cell C1 that marks a workbook of this layout.
    inline static const QString CheckText = QStringLiteral("Lisätarvikkeet");
    // What the user is told when checkLayout() fails.
    inline static const QString WrongFormatMessage
        = QStringLiteral("Неверный формат файла \"Zavrinello.xls\".");
    // Fill of the fixed header cells (Excel's colour index 43).
    static constexpr const char* HeaderFill = "FF99CC00";

    // What the workbook and its index may hold in memory (Workbook::MaxHeldBytes).
    static const std::size_t DefaultHeldBytes;
    // What must be left of it for one more product's row: a row that needs
    // more loses the cells that do not fit.
    static constexpr std::size_t RoomForARow = 4u * 1024u * 1024u;

    // The 14 header texts of row 1, in column order.
    static QStringList fixedHeaders();

    ~WorkbookLayout() override;

    // Creates folder/Zavrinello.xlsx with the header row, the header fill and
    // the text format on every column, and saves it at once. Fails when the
    // file exists already or cannot be written.
    static Result<std::unique_ptr<WorkbookLayout>> create(const QString& folder);

    // Opens an existing workbook. Fails when the file cannot be opened as
    // .xlsx (legacy .xls, damaged or hostile file) or it and the index of its
    // stored products would hold more than heldBytes in memory; the file is
    // never changed then. Does not check the layout.
    static Result<std::unique_ptr<WorkbookLayout>> open(
        const QString& path, std::size_t heldBytes = DefaultHeldBytes);

    // True when C1 holds exactly CheckText. A workbook failing the check
    // must not be written or saved (show WrongFormatMessage instead).
    bool checkLayout() const;

    // The row after the last row that holds anything in any column (2 for a
    // workbook with only its header row). Past the sheet's last row
    // (CellAddress::MaxRow) when the sheet is full.
    int findNextRow() const;

    int fixedColumnCount() const { return FixedColumnCount; }
    QString filePath() const;

    // The address the cell links to, empty when it has no link.
    QString linkAddress(int row, int column) const;
    int hyperlinkCount() const;

    // Whether save() can succeed, without touching the file (see
    // XlsxPackage::trySave).
    XlsxPackage::SaveTrial trySave();

    // CatalogSheet. linkCell() takes an absolute URL, or a path relative to
    // the workbook's folder ("Images/abc.jpg"; an absolute local path inside
    // that folder is made relative), and stores it as an external link
    // target so that relative links keep working when the folder moves.
    bool writeCell(int row, int column, const QString& text) override;
    bool linkCell(int row, int column, const QString& address) override;
    int propertyColumn(const QString& name) override;
    bool isStored(const QString& productUrl, const QString& lastSegment) const override;
    bool hasRoom() const override;
    QString storedPicture(const QString& productUrl) const override;
    QString cellText(int row, int column) const override;
    // Header cells a discarded row's properties added stay.
    void discardRowsFrom(int row) override;
    Result<void> save() override;

private:
    explicit WorkbookLayout(std::unique_ptr<Workbook> workbook);
    bool buildIndex();
    int textStyle();

    std::unique_ptr<Workbook> m_workbook;
    int m_textStyle = -2; // -2 until looked up
    TextCounts m_storedAddresses; // column-1 link addresses, with the last row of each
    TextCounts m_storedTexts; // case-folded column-1 texts
    QHash<QString, int> m_propertyColumns; // property header text -> column
    int m_lastPropertyColumn = FixedColumnCount;
};

} // namespace zp
