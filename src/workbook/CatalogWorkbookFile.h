#pragma once

#include "workbook/WorkbookLayout.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace zp {

// How OpenWorkbook ended.
enum class WorkbookStatus {
    Ready, // the sheet is ready for the crawl
    CannotCreate, // no workbook in the folder, and a new one could not be saved
    CannotOpen, // the workbook found cannot be read as .xlsx (damaged, gone)
    WrongLayout, // the workbook does not have the catalogue layout
    NotAFile, // the workbook's name is taken by a folder
    Unreadable, // the workbook cannot be read (no permission)
    LegacyFormat, // only an old .xls is there, which the engine cannot read
    OpenElsewhere, // a spreadsheet application has it open; detail: which (lock file)
    PartNotCopyable, // a part no save can copy; detail: the part
    FolderNotWritable, // the trial save beside the file failed; detail: the folder
    DiskFull, // the trial save or the new workbook's save found no space left
    FileTooLarge, // the system refused a file that large (its file-size limit)
    SheetFull, // no row left below the last stored one
    WorkbookFull, // the workbook holds as much as it may in memory
};

struct WorkbookOpening {
    WorkbookOpening(WorkbookStatus status = WorkbookStatus::CannotOpen, QString path = {},
        int nextRow = 0, QString detail = {}, std::optional<Failure> failure = {})
        : status(status)
        , path(std::move(path))
        , nextRow(nextRow)
        , detail(std::move(detail))
        , failure(std::move(failure))
    {
    }

    WorkbookStatus status;
    QString path; // the file found or made (also when it could not be used)
    int nextRow; // row of the first new product, when Ready
    QString detail; // see WorkbookStatus
    std::optional<Failure> failure; // why, where the system or the file said so
};

// The run's workbook: finds Zavrinello.xls* in the program folder, opens it or
// creates it with the catalogue layout, checks the layout, saves it after the
// crawl and at the end hands it to the user. There is no spreadsheet
// application behind it: the workbook engine reads and writes the file itself.
// It reports outcomes as values; telling the user is its caller's job.
class CatalogWorkbookFile {
public:
    // Hands a saved workbook to the user (the window opens it in the desktop's
    // spreadsheet application; the headless runner prints its path).
    using Handover = std::function<void(const QString& workbookPath)>;

    CatalogWorkbookFile(QString programFolder, Handover handover);

    // Forgets the previous run's workbook. The engine is part of the program,
    // so unlike a spreadsheet application it is always there.
    void ConnectExcel();

    // Opens the file of the program folder matching "Zavrinello.xls*" (any
    // case, normal files only; .xlsx first, then .xlsm) or creates
    // Zavrinello.xlsx, and checks its layout. Before the crawl it makes sure
    // the run can end well: unless despiteLock, a workbook that a spreadsheet
    // application has open (its lock file is there) is not opened
    // (OpenElsewhere: the caller asks the user and may call again); the
    // workbook must be savable (a trial save beside it) and have a free row.
    // The sheet is ready only when the status is Ready.
    WorkbookOpening OpenWorkbook(bool despiteLock = false);

    // Saves the workbook. Fails, with the reason, when it could not be saved
    // (or was never ready); the file on disk is then the last one saved in
    // full.
    Result<void> SaveWorkbook();

    // Unless stopped: hands the workbook to the user. When stopped: drops
    // whatever was not saved.
    void FinishExcel(bool stopped);

    // The sheet of the run, or nullptr before OpenWorkbook succeeded.
    CatalogSheet* sheet() const;
    // The workbook file of the run (empty before OpenWorkbook found or made one).
    QString workbookPath() const { return m_path; }

    // The workbook file OpenWorkbook would open in folder; empty when there
    // is none (a new one would be created).
    static QString FindWorkbookFile(const QString& folder);

private:
    // Why the file at path cannot be the workbook before it is even read;
    // Ready when it may be.
    static WorkbookOpening unusableFile(const QString& path);
    WorkbookOpening checkSavable();

    QString m_programFolder;
    Handover m_handover;
    std::unique_ptr<WorkbookLayout> m_book;
    QString m_path;
    bool m_ready = false;
};

} // namespace zp
