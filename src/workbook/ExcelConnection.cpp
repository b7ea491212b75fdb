#include "workbook/ExcelConnection.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace zp {

ExcelConnection::ExcelConnection(QString programFolder, Handover handover)
    : m_programFolder(std::move(programFolder))
    , m_handover(std::move(handover))
{
}

void ExcelConnection::ConnectExcel()
{
    m_book.reset();
    m_path.clear();
    m_ready = false;
}

QString ExcelConnection::findWorkbookFile() const
{
    // Hidden files are left out, so neither our own save's temporary file nor
    // a spreadsheet application's lock file can be taken for the workbook.
    const QStringList names
        = QDir(m_programFolder)
              .entryList({ u"Zavrinello.xls*"_s }, QDir::Files, QDir::Name | QDir::IgnoreCase);
    return names.isEmpty() ? QString() : QDir(m_programFolder).filePath(names.first());
}

WorkbookOpening ExcelConnection::OpenWorkbook()
{
    m_ready = false;
    m_path = findWorkbookFile();
    const bool found = !m_path.isEmpty();
    if (!found)
        m_path = QDir(m_programFolder).filePath(WorkbookLayout::FileName);
    auto book = found ? WorkbookLayout::open(m_path) : WorkbookLayout::create(m_programFolder);
    if (!book) {
        const QString path = std::exchange(m_path, QString()); // nothing usable to hand over
        return { found ? WorkbookStatus::CannotOpen : WorkbookStatus::CannotCreate, path };
    }
    m_book = std::move(book).value();
    if (!m_book->checkLayout())
        return { WorkbookStatus::WrongLayout, m_path };
    m_ready = true;
    return { WorkbookStatus::Ready, m_path, m_book->findNextRow() };
}

bool ExcelConnection::SaveWorkbook()
{
    return m_ready && m_book->save();
}

void ExcelConnection::FinishExcel(bool stopped)
{
    if (stopped) {
        m_book.reset();
        m_ready = false;
        return;
    }
    if (!m_path.isEmpty() && m_handover)
        m_handover(m_path);
}

CatalogSheet* ExcelConnection::sheet() const
{
    return m_ready ? m_book.get() : nullptr;
}

} // namespace zp
