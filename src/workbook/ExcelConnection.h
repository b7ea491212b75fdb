#pragma once

#include "workbook/WorkbookLayout.h"

#include <QString>
#include <functional>
#include <memory>

namespace zp {

class Dialogs;
class RunView;
struct RunState;

// The run's workbook: finds Zavrinello.xls* in the program folder, opens it or
// creates it with the catalogue layout, checks the layout, saves it after the
// crawl and at the end hands it to the user. There is no spreadsheet
// application behind it: the workbook engine reads and writes the file itself.
class ExcelConnection {
public:
    // Hands a saved workbook to the user (the window opens it in the desktop's
    // spreadsheet application; the headless runner prints its path).
    using Handover = std::function<void(const QString& workbookPath)>;

    ExcelConnection(
        RunState& state, RunView& view, Dialogs& dialogs, QString programFolder, Handover handover);

    // True when the workbook engine is available for the run. A new run
    // forgets the previous run's workbook.
    bool ConnectExcel();

    // Opens the file of the program folder matching "Zavrinello.xls*" (any
    // case, normal files only; .xlsx first, then .xlsm) or creates
    // Zavrinello.xlsx, checks its layout, sets FixedColumnCount, NextRow and
    // the counter label. Before the crawl it makes sure the run can end well:
    // when a spreadsheet application has the file open (its lock file is
    // there) the user is asked whether to go on; the workbook must be
    // savable (a trial save beside it) and have a free row. False when the
    // workbook cannot be used (its message has been shown then) or the user
    // declined (nothing shown, nothing written).
    bool OpenWorkbook();

    // Saves the workbook. False when it could not be saved; a message naming
    // the file has been shown then and the file on disk is the last good one.
    bool SaveWorkbook();

    // What the user is told when the sheet has no row left, or a save failed.
    QString SheetFullMessage() const;
    QString SaveFailedMessage() const;

    // Without a stop request: hands the workbook to the user. With one: drops
    // whatever was not saved.
    void FinishExcel();

    // The sheet of the run, or nullptr before OpenWorkbook succeeded.
    CatalogSheet* sheet() const;
    // The workbook file of the run (empty before OpenWorkbook found or made one).
    QString workbookPath() const { return m_path; }

private:
    QString findWorkbookFile() const;
    // Why the file at path cannot be the workbook (a folder, unreadable, an
    // old .xls); empty when it may be opened or created.
    QString unusableFileMessage(const QString& path) const;
    bool goOnDespiteLock(const QString& path);
    bool trySave();
    // Shows message and forgets the workbook; false.
    bool refuse(const QString& message);

    RunState& m_state;
    RunView& m_view;
    Dialogs& m_dialogs;
    QString m_programFolder;
    Handover m_handover;
    std::unique_ptr<WorkbookLayout> m_book;
    QString m_path;
    bool m_ready = false;
};

} // namespace zp
