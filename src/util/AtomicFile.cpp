#include "util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <vector>

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

constexpr qint64 ChunkSize = 1024 * 1024;

#ifdef Q_OS_WIN

Result<void> writeAndFlush(const QString& temporaryPath, const ChunkReader& read)
{
    QFile file(temporaryPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Failure { u"cannot create "_s + temporaryPath + u": "_s + file.errorString() };
    std::vector<char> buffer(ChunkSize);
    for (;;) {
        const qint64 n = read(buffer.data(), ChunkSize);
        if (n < 0)
            return Failure { u"cannot write "_s + temporaryPath + u": the data cannot be had"_s };
        if (n == 0)
            break;
        if (file.write(buffer.data(), n) != n)
            return Failure { u"cannot write "_s + temporaryPath + u": "_s + file.errorString() };
    }
    if (!file.flush() || _commit(file.handle()) != 0)
        return Failure { u"cannot write "_s + temporaryPath + u": "_s + file.errorString() };
    return {};
}

Result<void> replace(const QString& temporaryPath, const QString& path)
{
    const std::wstring from = temporaryPath.toStdWString();
    const std::wstring to = path.toStdWString();
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return Failure { u"cannot replace "_s + path };
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

// Writes every chunk read hands out; errno tells why when false.
bool writeChunks(int fd, const ChunkReader& read)
{
    std::vector<char> buffer(ChunkSize);
    for (;;) {
        const qint64 n = read(buffer.data(), ChunkSize);
        if (n < 0) {
            errno = EIO;
            return false;
        }
        if (n == 0)
            return true;
        if (!writeAll(fd, QByteArrayView(buffer.data(), n)))
            return false;
    }
}

Result<void> writeAndFlush(
    const QString& temporaryPath, const QString& path, const ChunkReader& read)
{
    mode_t mode = 0644;
    if (struct stat st; ::stat(QFile::encodeName(path).constData(), &st) == 0)
        mode = st.st_mode & 07777;
    const int fd = ::open(QFile::encodeName(temporaryPath).constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return Failure { u"cannot create "_s + temporaryPath + u": "_s + errnoText() };
    const bool written = writeChunks(fd, read) && ::fsync(fd) == 0;
    const QString writeError = written ? QString() : errnoText();
    const bool closed = ::close(fd) == 0;
    if (!written || !closed)
        return Failure { u"cannot write "_s + temporaryPath + u": "_s
            + (written ? errnoText() : writeError) };
    return {};
}

Result<void> replace(const QString& temporaryPath, const QString& path)
{
    if (::rename(QFile::encodeName(temporaryPath).constData(), QFile::encodeName(path).constData())
        == 0)
        return {};
    return Failure { u"cannot replace "_s + path + u": "_s + errnoText() };
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

// Hands out data in one piece.
ChunkReader readerOf(QByteArrayView data)
{
    return [data, done = qsizetype { 0 }](char* buffer, qint64 capacity) mutable -> qint64 {
        const qsizetype n = std::min<qsizetype>(data.size() - done, capacity);
        std::memcpy(buffer, data.data() + done, static_cast<std::size_t>(n));
        done += n;
        return n;
    };
}

} // namespace

Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, QByteArrayView data)
{
    return ReplaceFileAtomically(path, temporaryPath, readerOf(data));
}

Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, const ChunkReader& read)
{
#ifdef Q_OS_WIN
    Result<void> done = writeAndFlush(temporaryPath, read);
#else
    Result<void> done = writeAndFlush(temporaryPath, path, read);
#endif
    if (done)
        done = replace(temporaryPath, path);
    if (!done) {
        QFile::remove(temporaryPath);
        return done;
    }
    syncFolder(QFileInfo(path).absolutePath());
    return {};
}

Result<void> WriteFileDurably(const QString& path, QByteArrayView data)
{
    return WriteFileDurably(path, readerOf(data));
}

Result<void> WriteFileDurably(const QString& path, const ChunkReader& read)
{
#ifdef Q_OS_WIN
    return writeAndFlush(path, read);
#else
    return writeAndFlush(path, path, read);
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
    if (!replace(m_file.fileName(), m_path)) {
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
