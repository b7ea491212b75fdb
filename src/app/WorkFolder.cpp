#include "app/WorkFolder.h"

#include "workbook/CatalogWorkbookFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// An installed program (the package, cmake --install) has its menu entry in
// ../share/applications. Its folder is the system's even where the user may
// write to it (root): the files go to the documents folder then.
bool isInstalled(const QString& programFolder)
{
    return QFileInfo::exists(programFolder + u"/../share/applications/zavrinello-parser.desktop"_s);
}

QString chosenFolder(const QString& requested, const QString& programFolder)
{
    if (!requested.isEmpty())
        return QFileInfo(requested).absoluteFilePath();
    // A workbook beside the program is the user's, writable or not: a run
    // that cannot save it says so before the crawl instead of starting a
    // second workbook elsewhere.
    if (!CatalogWorkbookFile::FindWorkbookFile(programFolder).isEmpty())
        return programFolder;
    if (QFileInfo(programFolder).isWritable() && !isInstalled(programFolder))
        return programFolder;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + u"/Zavrinello"_s;
}

} // namespace

QString ChooseWorkFolder(const QString& requested, const QString& programFolder)
{
    const QString folder = QDir::cleanPath(chosenFolder(requested, programFolder));
    // A folder that cannot be made shows up at the first save, which names
    // the workbook's path.
    QDir().mkpath(folder);
    return folder;
}

} // namespace zp
