#include "app/WorkFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

QString chosenFolder(const QString& requested, const QString& programFolder)
{
    if (!requested.isEmpty())
        return QFileInfo(requested).absoluteFilePath();
    if (QFileInfo(programFolder).isWritable())
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
