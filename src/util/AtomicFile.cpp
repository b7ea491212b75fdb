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

bool syncFolder(const QString&)
{
    return true;
}

bool syncFile(QFile& file)
{
    return file.flush() && _commit(file.handle()) == 0;
}

#else

bool syncFile(QFile& file)
{
    return file.flush() && ::fsync(file.handle()) == 0;
}

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
bool syncFolder(const QString& folder)
{
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
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

bool WriteFileDurably(const QString& path, QByteArrayView data, QString* error)
{
#ifdef Q_OS_WIN
    return writeAndFlush(path, data, error);
#else
    return writeAndFlush(path, path, data, error);
#endif
}

bool SyncFolder(const QString& folder)
{
    return syncFolder(folder);
}

AtomicFileWriter::AtomicFileWriter(QString path, QString temporaryPath)
    : m_path(std::move(path))
    , m_file(temporaryPath)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

bool AtomicFileWriter::open()
{
    if (m_file.isOpen())
        return false;
    // Unbuffered, so that a write that fails (a full disk) fails at once
    // and is never hidden behind a later flush.
    m_failed = !m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    m_written = 0;
    return !m_failed;
}

bool AtomicFileWriter::write(QByteArrayView data)
{
    if (m_failed || !m_file.isOpen())
        return false;
    qsizetype done = 0;
    while (done < data.size()) {
        const qint64 n = m_file.write(data.data() + done, data.size() - done);
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        done += n;
        m_written += n;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (m_failed || !m_file.isOpen())
        return false;
    const bool whole = syncFile(m_file) && m_file.size() == m_written;
    m_file.close();
    if (!whole || m_file.error() != QFileDevice::NoError) {
        discard();
        return false;
    }
    QString error;
    if (!replace(m_file.fileName(), m_path, &error)) {
        discard();
        return false;
    }
    syncFolder(QFileInfo(m_path).absolutePath());
    m_failed = true; // nothing more can be written
    return true;
}

void AtomicFileWriter::discard()
{
    m_failed = true;
    if (m_file.isOpen())
        m_file.close();
    QFile::remove(m_file.fileName()); // gone already after a commit
}

} // namespace zp
