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

QString PictureFileName(const QString& url)
{
    qsizetype end = 0;
    while (end < url.size() && url[end] != u'?' && url[end] != u'#')
        ++end;
    return GetFileNameFromURL(url.left(end));
}

namespace {

// Characters that reorder how a name is shown (a picture "exe.jpg" that reads
// "gpj.exe"); they have no place in a file name.
bool isBidiControl(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E)
        || (u >= 0x2066 && u <= 0x2069);
}

// Characters that Windows does not allow in a file name.
bool isWindowsReserved(QChar c)
{
    return u"<>:\"|?*"_s.contains(c);
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with any
// extension and in any letter case.
bool isWindowsDeviceName(const QString& name)
{
    const QString stem = name.section(u'.', 0, 0).trimmed().toUpper();
    if (stem == u"CON"_s || stem == u"PRN"_s || stem == u"AUX"_s || stem == u"NUL"_s)
        return true;
    return stem.size() == 4 && (stem.startsWith(u"COM"_s) || stem.startsWith(u"LPT"_s))
        && stem[3] >= u'1' && stem[3] <= u'9';
}

} // namespace

bool IsSafeFileName(const QString& name)
{
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        return false;
    // Windows drops a trailing dot or space, so the name would change.
    if (name.endsWith(u'.') || name.endsWith(u' ') || isWindowsDeviceName(name))
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control || isBidiControl(c)
            || isWindowsReserved(c))
            return false;
    }
    return true;
}

} // namespace zp
