#include "util/PathUtils.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace zp {

bool DirExists(const QString& path)
{
    QString p = path;
    // The root keeps its one separator.
    if (p.size() > 1 && (p.endsWith(u'/') || p.endsWith(u'\\')))
        p.chop(1);
    if (p.isEmpty())
        return false;
    return QFileInfo(p).isDir();
}

bool CreateDir(const QString& path)
{
    if (DirExists(path))
        return false;
    if (path.isEmpty())
        return true;
    return !(QDir().mkpath(path) && DirExists(path));
}

QString GetFileNameFromURL(const QString& url)
{
    return url.mid(url.lastIndexOf(u'/') + 1);
}

bool IsSafeFileName(const QString& name)
{
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace zp
