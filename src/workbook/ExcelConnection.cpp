#include "workbook/ExcelConnection.h"

#include "app/Dialogs.h"
#include "app/RunState.h"
#include "app/RunView.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace zp {

ExcelConnection::ExcelConnection(
    RunState& state, RunView& view, Dialogs& dialogs, QString programFolder, Handover handover)
    : m_state(state)
    , m_view(view)
    , m_dialogs(dialogs)
    , m_programFolder(std::move(programFolder))
    , m_handover(std::move(handover))
{
}

bool ExcelConnection::ConnectExcel()
{
    m_book.reset();
    m_path.clear();
    m_ready = false;
    return true;
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

bool ExcelConnection::OpenWorkbook()
{
    m_ready = false;
    m_path = findWorkbookFile();
    QString error;
    if (m_path.isEmpty()) {
        m_book = WorkbookLayout::create(m_programFolder, &error);
        m_path = QDir(m_programFolder).filePath(WorkbookLayout::FileName);
        if (!m_book) {
            m_dialogs.show(MessageStyle::Failure,
                u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(m_path) + u'.');
            m_path.clear();
            return false;
        }
    } else {
        m_book = WorkbookLayout::open(m_path, &error);
        if (!m_book) {
            m_dialogs.show(MessageStyle::Failure,
                u"Не удалось найти файл "_s + QDir::toNativeSeparators(m_path) + u'.');
            m_path.clear(); // nothing usable to hand over
            return false;
        }
    }
    if (!m_book->checkLayout()) {
        m_dialogs.show(MessageStyle::Failure, WorkbookLayout::WrongFormatMessage);
        return false;
    }
    m_state.FixedColumnCount = WorkbookLayout::FixedColumnCount;
    m_state.NextRow = m_book->findNextRow();
    m_view.setCounterText(QString::number(m_state.NextRow - 1));
    m_ready = true;
    return true;
}

bool ExcelConnection::SaveWorkbook()
{
    if (!m_ready)
        return false;
    if (m_book->save())
        return true;
    m_dialogs.show(MessageStyle::Failure,
        u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(m_path) + u'.');
    return false;
}

void ExcelConnection::FinishExcel()
{
    if (m_state.StopRequested.isSet()) {
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
