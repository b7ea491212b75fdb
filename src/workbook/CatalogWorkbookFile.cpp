#include "workbook/CatalogWorkbookFile.h"

#include "workbook/WorkbookLock.h"
#include "xlsx/XlsxPackage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// The status of a workbook that could not be saved: the kind of failure
// decides, so that a full disk is not taken for a folder closed to writing.
WorkbookStatus savingStatus(const Failure& failure, WorkbookStatus otherwise)
{
    switch (failure.kind()) {
    case Failure::Kind::NoSpace:
        return WorkbookStatus::DiskFull;
    case Failure::Kind::TooLarge:
        return WorkbookStatus::FileTooLarge;
    default:
        return otherwise;
    }
}

} // namespace

CatalogWorkbookFile::CatalogWorkbookFile(QString programFolder, Handover handover)
    : m_programFolder(std::move(programFolder))
    , m_handover(std::move(handover))
{
}

void CatalogWorkbookFile::ConnectExcel()
{
    m_book.reset();
    m_path.clear();
    m_ready = false;
}

QString CatalogWorkbookFile::FindWorkbookFile(const QString& folder)
{
    // Hidden files are left out, so neither our own save's temporary file nor
    // a spreadsheet application's lock file can be taken for the workbook.
    const QStringList names = QDir(folder).entryList(
        { u"Zavrinello.xls*"_s }, QDir::Files, QDir::Name | QDir::IgnoreCase);
    // Among the matches the engine takes what it can read: an .xlsx before an
    // .xlsm before anything else (an old .xls is refused).
    for (const QString& suffix : { u".xlsx"_s, u".xlsm"_s }) {
        for (const QString& name : names) {
            if (name.endsWith(suffix, Qt::CaseInsensitive))
                return QDir(folder).filePath(name);
        }
    }
    return names.isEmpty() ? QString() : QDir(folder).filePath(names.first());
}

WorkbookOpening CatalogWorkbookFile::unusableFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return { WorkbookStatus::NotAFile };
    if (info.exists() && ::access(QFile::encodeName(path).constData(), R_OK) != 0)
        return { WorkbookStatus::Unreadable, {}, 0, {}, Failure::fromErrno(errno) };
    if (info.exists() && info.suffix().compare(u"xls"_s, Qt::CaseInsensitive) == 0)
        return { WorkbookStatus::LegacyFormat };
    return { WorkbookStatus::Ready };
}

WorkbookOpening CatalogWorkbookFile::checkSavable()
{
    XlsxPackage::SaveTrial trial = m_book->trySave();
    switch (trial.outcome) {
    case XlsxPackage::SaveTrial::Outcome::Savable:
        break;
    case XlsxPackage::SaveTrial::Outcome::PartNotCopyable:
        return { WorkbookStatus::PartNotCopyable, std::exchange(m_path, QString()), 0,
            trial.detail };
    case XlsxPackage::SaveTrial::Outcome::NotWritable: {
        const QString folder = QFileInfo(XlsxPackage::fileToReplace(m_path)).absolutePath();
        return { savingStatus(*trial.failure, WorkbookStatus::FolderNotWritable),
            std::exchange(m_path, QString()), 0, folder, std::move(trial.failure) };
    }
    }
    const int nextRow = m_book->findNextRow();
    if (nextRow > CatalogSheet::MaxRow)
        return { WorkbookStatus::SheetFull, std::exchange(m_path, QString()), 0, {} };
    if (!m_book->hasRoom())
        return { WorkbookStatus::WorkbookFull, std::exchange(m_path, QString()), 0, {} };
    m_ready = true;
    return { WorkbookStatus::Ready, m_path, nextRow, {} };
}

WorkbookOpening CatalogWorkbookFile::OpenWorkbook(bool despiteLock)
{
    m_ready = false;
    m_path = FindWorkbookFile(m_programFolder);
    const bool found = !m_path.isEmpty();
    if (!found)
        m_path = QDir(m_programFolder).filePath(WorkbookLayout::FileName);
    if (WorkbookOpening unusable = unusableFile(m_path); unusable.status != WorkbookStatus::Ready) {
        unusable.path = std::exchange(m_path, QString());
        return unusable;
    }
    if (found && !despiteLock) {
        // A linked workbook may have been opened by either name.
        std::optional<WorkbookLock> lock = FindWorkbookLock(m_path);
        if (!lock)
            lock = FindWorkbookLock(XlsxPackage::fileToReplace(m_path));
        if (lock)
            return { WorkbookStatus::OpenElsewhere, std::exchange(m_path, QString()), 0,
                lock->describe() };
    }
    auto book = found ? WorkbookLayout::open(m_path) : WorkbookLayout::create(m_programFolder);
    if (!book) {
        const QString path = std::exchange(m_path, QString()); // nothing usable to hand over
        Failure failure = std::move(book).failure();
        const WorkbookStatus status = !found ? savingStatus(failure, WorkbookStatus::CannotCreate)
            : failure.is(Failure::Kind::NoAccess) ? WorkbookStatus::Unreadable
                                                  : WorkbookStatus::CannotOpen;
        return { status, path, 0, {}, std::move(failure) };
    }
    m_book = std::move(book).value();
    if (!m_book->checkLayout())
        return { WorkbookStatus::WrongLayout, m_path, 0, {} };
    return checkSavable();
}

Result<void> CatalogWorkbookFile::SaveWorkbook()
{
    if (!m_ready)
        return Failure { Failure::Kind::IOError, u"the workbook was not opened"_s };
    return m_book->save();
}

void CatalogWorkbookFile::FinishExcel(bool stopped)
{
    if (stopped) {
        m_book.reset();
        m_ready = false;
        return;
    }
    if (!m_path.isEmpty() && m_handover)
        m_handover(m_path);
}

CatalogSheet* CatalogWorkbookFile::sheet() const
{
    return m_ready ? m_book.get() : nullptr;
}

} // namespace zp
