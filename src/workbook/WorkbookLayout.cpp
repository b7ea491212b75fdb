#include "workbook/WorkbookLayout.h"

#include "xlsx/CellAddress.h"
#include "xlsx/CellText.h"
#include "xlsx/Workbook.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// The sheet the crawl sees has the engine's limits.
static_assert(CatalogSheet::MaxRow == CellAddress::MaxRow);
static_assert(CatalogSheet::MaxCellLength == CellText::MaxLength);

// Products are looked up by their order number cell, property columns by
// their header.
constexpr SheetIndex CatalogueIndex { .keyColumn = RowLayout::OrderNumberColumn, .headerRow = 1 };

} // namespace

QStringList WorkbookLayout::fixedHeaders()
{
    QStringList headers { u"Tilausnumero"_s, u"Kuvaus"_s, CheckText };
    for (int i = 1; i <= RowLayout::CategoryColumnCount; ++i)
        headers << u"Категория %1"_s.arg(i);
    headers << u"Картинки"_s;
    return headers;
}

const std::size_t WorkbookLayout::DefaultHeldBytes = Workbook::MaxHeldBytes;

WorkbookLayout::WorkbookLayout(std::unique_ptr<Workbook> workbook)
    : m_workbook(std::move(workbook))
    , m_storedAddresses(&m_workbook->budget())
    , m_storedTexts(&m_workbook->budget())
{
}

WorkbookLayout::~WorkbookLayout() = default;

Result<std::unique_ptr<WorkbookLayout>> WorkbookLayout::create(const QString& folder)
{
    const QString path = QDir(folder).filePath(FileName);
    if (QFileInfo::exists(path))
        return Failure { Failure::Kind::IOError, u"the workbook exists already: "_s + path };
    Result<std::unique_ptr<Workbook>> workbook = Workbook::create(path, CatalogueIndex);
    if (!workbook)
        return std::move(workbook).failure();
    std::unique_ptr<WorkbookLayout> layout(new WorkbookLayout(std::move(workbook).value()));
    layout->buildIndex();
    const QStringList headers = fixedHeaders();
    const int headerStyle = layout->m_workbook->styles().textFillStyle(HeaderFill);
    for (int column = 1; column <= FixedColumnCount; ++column) {
        layout->writeCell(1, column, headers[column - 1]);
        layout->m_workbook->sheet().setCellStyle(1, column, headerStyle);
    }
    if (Result<void> saved = layout->save(); !saved)
        return std::move(saved).failure();
    return layout;
}

Result<std::unique_ptr<WorkbookLayout>> WorkbookLayout::open(
    const QString& path, std::size_t heldBytes)
{
    Result<std::unique_ptr<Workbook>> workbook = Workbook::open(path, CatalogueIndex, heldBytes);
    if (!workbook)
        return std::move(workbook).failure();
    std::unique_ptr<WorkbookLayout> layout(new WorkbookLayout(std::move(workbook).value()));
    if (!layout->buildIndex())
        return Failure { Failure::Kind::TooLarge,
            u"the workbook is too large to be held in memory"_s };
    return layout;
}

bool WorkbookLayout::buildIndex()
{
    const Worksheet& sheet = m_workbook->sheet();
    for (int row = 2; row <= sheet.lastRow(); ++row) {
        if (!m_storedTexts.add(sheet.cellText(row, 1).toCaseFolded(), row)
            || !m_storedAddresses.add(sheet.hyperlinkAddress(row, 1), row))
            return false;
    }
    for (const auto& [column, text] : sheet.headerRow()) {
        if (column >= FirstPropertyColumn) {
            if (!m_propertyColumns.contains(text))
                m_propertyColumns.insert(text, column);
            m_lastPropertyColumn = column;
        }
    }
    return true;
}

bool WorkbookLayout::hasRoom() const
{
    return m_workbook->budget().left() >= RoomForARow;
}

int WorkbookLayout::textStyle()
{
    if (!m_textStyle)
        m_textStyle = m_workbook->styles().textStyle();
    return *m_textStyle;
}

bool WorkbookLayout::checkLayout() const
{
    return cellText(1, CheckColumn) == CheckText;
}

int WorkbookLayout::findNextRow() const
{
    // After everything stored, whoever stored it: a gap in column A (a
    // product without order number, a row edited by hand) is never written
    // over, nor are cells other programs put to the right of the table.
    return std::max(m_workbook->sheet().lastFilledRow(), 1) + 1;
}

QString WorkbookLayout::filePath() const
{
    return m_workbook->filePath();
}

QString WorkbookLayout::cellText(int row, int column) const
{
    return m_workbook->sheet().cellText(row, column);
}

QString WorkbookLayout::linkAddress(int row, int column) const
{
    return m_workbook->sheet().hyperlinkAddress(row, column);
}

int WorkbookLayout::hyperlinkCount() const
{
    return m_workbook->sheet().hyperlinkCount();
}

bool WorkbookLayout::writeCell(int row, int column, const QString& text)
{
    Worksheet& sheet = m_workbook->sheet();
    if (!CellAddress { row, column }.isValid())
        return false;
    const QString old = column == 1 && row >= 2 ? sheet.cellText(row, 1) : QString();
    if (!sheet.writeText(row, column, text, textStyle()))
        return false;
    if (column == 1 && row >= 2) {
        m_storedTexts.remove(old.toCaseFolded());
        if (!m_storedTexts.add(sheet.cellText(row, 1).toCaseFolded(), row))
            return false;
    }
    if (row == 1 && column >= FirstPropertyColumn) {
        const QString header = sheet.cellText(1, column);
        if (!header.isEmpty() && !m_propertyColumns.contains(header))
            m_propertyColumns.insert(header, column);
        if (!header.isEmpty())
            m_lastPropertyColumn = std::max(m_lastPropertyColumn, column);
    }
    return true;
}

bool WorkbookLayout::linkCell(int row, int column, const QString& address)
{
    QString target = address;
    if (QDir::isAbsolutePath(address) && !address.contains(u"://"_s)) {
        const QString relative = QFileInfo(filePath()).absoluteDir().relativeFilePath(address);
        if (!relative.startsWith(u".."_s))
            target = relative;
    }
    Worksheet& sheet = m_workbook->sheet();
    const QString old = column == 1 && row >= 2 ? sheet.hyperlinkAddress(row, 1) : QString();
    if (sheet.setHyperlink(row, column, target) != Worksheet::LinkResult::Linked)
        return false;
    if (column == 1 && row >= 2) {
        m_storedAddresses.remove(old);
        return m_storedAddresses.add(target, row);
    }
    return true;
}

int WorkbookLayout::propertyColumn(const QString& name)
{
    if (name.isEmpty())
        return 0;
    const QString header = CellText::limited(name);
    if (const auto it = m_propertyColumns.constFind(header); it != m_propertyColumns.constEnd())
        return it.value();
    const int column = m_lastPropertyColumn + 1;
    if (column > CellAddress::MaxColumn || !writeCell(1, column, header))
        return 0;
    return column;
}

bool WorkbookLayout::isStored(const QString& productUrl, const QString& lastSegment) const
{
    return m_storedAddresses.contains(productUrl)
        || m_storedTexts.contains(lastSegment.toCaseFolded());
}

XlsxPackage::SaveTrial WorkbookLayout::trySave()
{
    return m_workbook->trySave();
}

QString WorkbookLayout::storedPicture(const QString& productUrl) const
{
    const int row = m_storedAddresses.lastRow(productUrl);
    return row >= 2 && linkAddress(row, 1) == productUrl ? cellText(row, RowLayout::PictureColumn)
                                                         : QString();
}

void WorkbookLayout::discardRowsFrom(int row)
{
    Worksheet& sheet = m_workbook->sheet();
    row = std::max(row, 2);
    for (int discarded = row; discarded <= sheet.lastFilledRow(); ++discarded) {
        m_storedTexts.remove(sheet.cellText(discarded, 1).toCaseFolded());
        m_storedAddresses.remove(sheet.hyperlinkAddress(discarded, 1));
    }
    sheet.discardRowsFrom(row);
}

Result<void> WorkbookLayout::save()
{
    return m_workbook->save();
}

} // namespace zp
