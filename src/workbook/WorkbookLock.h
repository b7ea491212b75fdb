#pragma once

#include <QString>
#include <optional>

namespace zp {

// A spreadsheet application that has the workbook open, as its lock file
// beside the workbook says: LibreOffice writes ".~lock.<name>#", Excel
// "~$<name>" (with the name's first two characters replaced when it is long).
struct WorkbookLock {
    QString program; // "LibreOffice" or "Excel"
    QString user; // the user named in the lock file, may be empty
    QString host; // the computer named in it (LibreOffice only), may be empty

    // "LibreOffice, пользователь ivan на компьютере desk" and the shorter
    // forms when the lock file names less.
    QString describe() const;
};

// The lock of the workbook at path, nullopt when no lock file is there.
std::optional<WorkbookLock> FindWorkbookLock(const QString& workbookPath);

} // namespace zp
