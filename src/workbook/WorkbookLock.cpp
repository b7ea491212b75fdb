#include "workbook/WorkbookLock.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

constexpr qint64 MaxLockFileBytes = 4096;

QByteArray readHead(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(MaxLockFileBytes);
}

// "Full Name,login,host,date,profile URL;": the name shown in LibreOffice's
// options, the system login, the host.
WorkbookLock libreOfficeLock(const QString& path)
{
    const QStringList fields = QString::fromUtf8(readHead(path)).split(u',');
    WorkbookLock lock { u"LibreOffice"_s, {}, {} };
    if (fields.size() >= 3) {
        lock.user = fields[0].trimmed().isEmpty() ? fields[1].trimmed() : fields[0].trimmed();
        lock.host = fields[2].trimmed();
    }
    return lock;
}

// One byte of length, then the user name in the system's 8-bit code page.
WorkbookLock excelLock(const QString& path)
{
    const QByteArray head = readHead(path);
    WorkbookLock lock { u"Excel"_s, {}, {} };
    if (!head.isEmpty()) {
        const int length = static_cast<unsigned char>(head[0]);
        if (length > 0 && length < head.size())
            lock.user = QString::fromLocal8Bit(head.mid(1, length)).trimmed();
    }
    return lock;
}

} // namespace

QString WorkbookLock::describe() const
{
    QString text = program;
    if (!user.isEmpty())
        text += u", пользователь "_s + user;
    if (!host.isEmpty())
        text += u" на компьютере "_s + host;
    return text;
}

std::optional<WorkbookLock> FindWorkbookLock(const QString& workbookPath)
{
    const QFileInfo info(workbookPath);
    const QString folder = info.absolutePath() + u'/';
    const QString name = info.fileName();
    if (const QString path = folder + u".~lock."_s + name + u'#'; QFileInfo(path).isFile())
        return libreOfficeLock(path);
    for (const QString& owner : { u"~$"_s + name, u"~$"_s + name.mid(2) }) {
        if (QFileInfo(folder + owner).isFile())
            return excelLock(folder + owner);
    }
    return std::nullopt;
}

} // namespace zp
