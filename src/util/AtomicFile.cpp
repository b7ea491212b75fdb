#include "util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

#ifdef Q_OS_WIN

bool writeAndFlush(const QString& temporaryPath, QByteArrayView data, QString* error)
{
    QFile file(temporaryPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setError(error, u"cannot create "_s + temporaryPath + u": "_s + file.errorString());
        return false;
    }
    const bool ok = file.write(data.data(), data.size()) == data.size() && file.flush()
        && _commit(file.handle()) == 0;
    if (!ok)
        setError(error, u"cannot write "_s + temporaryPath + u": "_s + file.errorString());
    return ok;
}

bool replace(const QString& temporaryPath, const QString& path, QString* error)
{
    const std::wstring from = temporaryPath.toStdWString();
    const std::wstring to = path.toStdWString();
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    setError(error, u"cannot replace "_s + path);
    return false;
}

void syncFolder(const QString&) { }

#else

bool writeAll(int fd, QByteArrayView data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAndFlush(
    const QString& temporaryPath, const QString& path, QByteArrayView data, QString* error)
{
    mode_t mode = 0644;
    if (struct stat st; ::stat(QFile::encodeName(path).constData(), &st) == 0)
        mode = st.st_mode & 07777;
    const int fd = ::open(QFile::encodeName(temporaryPath).constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        setError(error, u"cannot create "_s + temporaryPath + u": "_s + errnoText());
        return false;
    }
    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    if (!written)
        setError(error, u"cannot write "_s + temporaryPath + u": "_s + errnoText());
    const bool closed = ::close(fd) == 0;
    if (written && !closed)
        setError(error, u"cannot write "_s + temporaryPath + u": "_s + errnoText());
    return written && closed;
}

bool replace(const QString& temporaryPath, const QString& path, QString* error)
{
    if (::rename(QFile::encodeName(temporaryPath).constData(), QFile::encodeName(path).constData())
        == 0)
        return true;
    setError(error, u"cannot replace "_s + path + u": "_s + errnoText());
    return false;
}

// Makes the rename itself durable.
void syncFolder(const QString& folder)
{
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

#endif

} // namespace

bool ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, QByteArrayView data, QString* error)
{
#ifdef Q_OS_WIN
    const bool written = writeAndFlush(temporaryPath, data, error);
#else
    const bool written = writeAndFlush(temporaryPath, path, data, error);
#endif
    if (!written || !replace(temporaryPath, path, error)) {
        QFile::remove(temporaryPath);
        return false;
    }
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

} // namespace zp
