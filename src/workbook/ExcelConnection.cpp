#include "workbook/ExcelConnection.h"

#include "app/Dialogs.h"
#include "app/RunState.h"
#include "app/RunView.h"
#include "workbook/WorkbookLock.h"
#include "workbook/XlsxPackage.h"

#include <QDir>
#include <QFileInfo>

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
    // Among the matches the engine takes what it can read: an .xlsx before an
    // .xlsm before anything else (an old .xls is refused when opened).
    const QStringList names
        = QDir(m_programFolder)
              .entryList({ u"Zavrinello.xls*"_s }, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& suffix : { u".xlsx"_s, u".xlsm"_s }) {
        for (const QString& name : names) {
            if (name.endsWith(suffix, Qt::CaseInsensitive))
                return QDir(m_programFolder).filePath(name);
        }
    }
    return names.isEmpty() ? QString() : QDir(m_programFolder).filePath(names.first());
}

bool ExcelConnection::refuse(const QString& message)
{
    m_dialogs.show(MessageStyle::Failure, message);
    m_book.reset();
    m_path.clear(); // nothing usable to hand over
    return false;
}

QString ExcelConnection::unusableFileMessage(const QString& path) const
{
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (info.isDir())
        return u"Не удалось открыть файл "_s + shown + u": это папка, а не файл."_s;
    if (info.exists() && !info.isReadable())
        return u"Не удалось открыть файл "_s + shown + u": нет права на чтение."_s;
    if (info.exists() && info.suffix().compare(u"xls"_s, Qt::CaseInsensitive) == 0)
        return u"Файл "_s + shown
            + u" сохранён в старом формате Excel (.xls), который парсер не читает.\r"
              u"Сохраните его в формате .xlsx под именем Zavrinello.xlsx и запустите парсер снова."_s;
    return {};
}

bool ExcelConnection::goOnDespiteLock(const QString& path)
{
    // A linked workbook may have been opened by either name.
    std::optional<WorkbookLock> lock = FindWorkbookLock(path);
    if (!lock)
        lock = FindWorkbookLock(XlsxPackage::fileToReplace(path));
    if (!lock)
        return true;
    const QString question = u"Файл "_s + QDir::toNativeSeparators(path)
        + u" открыт в другой программе ("_s + lock->describe()
        + u").\rЕсли она потом сохранит его, новые строки пропадут.\rПродолжить?"_s;
    return m_dialogs.show(MessageStyle::Question, question) == MessageAnswer::Yes;
}

bool ExcelConnection::trySave()
{
    QString detail;
    const QString shown = QDir::toNativeSeparators(m_path);
    switch (m_book->trySave(&detail)) {
    case XlsxPackage::SaveTrial::Savable:
        return true;
    case XlsxPackage::SaveTrial::PartNotCopyable:
        return refuse(u"Не удалось сохранить файл "_s + shown + u": часть "_s + detail
            + u" зашифрована или сжата неизвестным способом.\r"
              u"Сохраните файл заново в Excel или LibreOffice."_s);
    case XlsxPackage::SaveTrial::NotWritable:
        break;
    }
    const QString folder = QFileInfo(XlsxPackage::fileToReplace(m_path)).absolutePath();
    return refuse(u"Не удалось сохранить файл "_s + shown + u": запись в папку "_s
        + QDir::toNativeSeparators(folder) + u" невозможна."_s);
}

bool ExcelConnection::OpenWorkbook()
{
    m_ready = false;
    m_path = findWorkbookFile();
    const QString newPath = QDir(m_programFolder).filePath(WorkbookLayout::FileName);
    if (const QString message = unusableFileMessage(m_path.isEmpty() ? newPath : m_path);
        !message.isEmpty())
        return refuse(message);
    QString error;
    if (m_path.isEmpty()) {
        m_book = WorkbookLayout::create(m_programFolder, &error);
        m_path = newPath;
        if (!m_book)
            return refuse(
                u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(m_path) + u'.');
    } else {
        if (!goOnDespiteLock(m_path)) {
            m_path.clear();
            return false;
        }
        m_book = WorkbookLayout::open(m_path, &error);
        if (!m_book)
            return refuse(u"Не удалось найти файл "_s + QDir::toNativeSeparators(m_path) + u'.');
    }
    if (!m_book->checkLayout()) {
        m_dialogs.show(MessageStyle::Failure, WorkbookLayout::WrongFormatMessage);
        return false;
    }
    if (!trySave())
        return false;
    m_state.FixedColumnCount = WorkbookLayout::FixedColumnCount;
    m_state.NextRow = m_book->findNextRow();
    if (m_state.NextRow > CatalogSheet::MaxRow)
        return refuse(SheetFullMessage());
    m_view.setCounterText(QString::number(m_state.NextRow - 1));
    m_ready = true;
    return true;
}

QString ExcelConnection::SheetFullMessage() const
{
    return u"В файле "_s + QDir::toNativeSeparators(m_path)
        + u" нет свободных строк: лист заполнен до последней строки 1048576."_s;
}

QString ExcelConnection::SaveFailedMessage() const
{
    return u"Не удалось сохранить файл "_s + QDir::toNativeSeparators(m_path) + u'.';
}

bool ExcelConnection::SaveWorkbook()
{
    if (!m_ready)
        return false;
    if (m_book->save())
        return true;
    m_dialogs.show(MessageStyle::Failure, SaveFailedMessage());
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
