#include "util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <utility>
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

Result<void> openForFilling(QFile& file, const QString& temporaryPath, const QString&)
{
    file.setFileName(temporaryPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return Failure { u"cannot create "_s + temporaryPath + u": "_s + file.errorString() };
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

int duplicateDescriptor(int descriptor)
{
    return _dup(descriptor);
}

bool syncDescriptor(int descriptor)
{
    return _commit(descriptor) == 0;
}

qint64 descriptorSize(int descriptor)
{
    return _filelengthi64(descriptor);
}

bool closeDescriptor(int descriptor)
{
    return _close(descriptor) == 0;
}

#else

bool syncFile(QFile& file)
{
    return file.flush() && ::fsync(file.handle()) == 0;
}

int duplicateDescriptor(int descriptor)
{
    return ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
}

bool syncDescriptor(int descriptor)
{
    return ::fsync(descriptor) == 0;
}

qint64 descriptorSize(int descriptor)
{
    struct stat st;
    return ::fstat(descriptor, &st) == 0 ? qint64(st.st_size) : -1;
}

bool closeDescriptor(int descriptor)
{
    return ::close(descriptor) == 0;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Creates (truncates) temporaryPath with the permissions of the file at
// modeOf, so that a replaced file keeps them.
Result<void> openForFilling(QFile& file, const QString& temporaryPath, const QString& modeOf)
{
    mode_t mode = 0644;
    if (struct stat st; ::stat(QFile::encodeName(modeOf).constData(), &st) == 0)
        mode = st.st_mode & 07777;
    const int fd = ::open(QFile::encodeName(temporaryPath).constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return Failure { u"cannot create "_s + temporaryPath + u": "_s + errnoText() };
    if (!file.open(
            fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Failure { u"cannot create "_s + temporaryPath + u": "_s + file.errorString() };
    }
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

// Fills temporaryPath, made with the permissions of modeOf, and flushes it to
// disk. The file is unbuffered, so that a write that fails (a full disk)
// fails at once and is never hidden behind a later flush.
Result<void> fillAndFlush(
    const QString& temporaryPath, const QString& modeOf, const FileFiller& fill)
{
    QFile file;
    if (const Result<void> opened = openForFilling(file, temporaryPath, modeOf); !opened)
        return opened;
    Result<void> done = fill(file);
    if (done && !syncFile(file))
        done = Failure { file.error() != QFileDevice::NoError ? file.errorString()
                                                              : qt_error_string() };
    file.close();
    if (done && file.error() != QFileDevice::NoError)
        done = Failure { file.errorString() };
    if (!done)
        return Failure { u"cannot write "_s + temporaryPath + u": "_s + done.error() };
    return {};
}

FileFiller fillerOf(QByteArrayView data)
{
    return [data](QFile& file) -> Result<void> {
        if (!WriteAll(file, data))
            return Failure { file.errorString() };
        return {};
    };
}

FileFiller fillerOf(const ChunkReader& read)
{
    return [&read](QFile& file) -> Result<void> {
        std::vector<char> buffer(ChunkSize);
        for (;;) {
            const qint64 n = read(buffer.data(), ChunkSize);
            if (n < 0)
                return Failure { u"the data cannot be had"_s };
            if (n == 0)
                return {};
            if (!WriteAll(file, QByteArrayView(buffer.data(), n)))
                return Failure { file.errorString() };
        }
    };
}

} // namespace

Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, QByteArrayView data)
{
    return ReplaceFileAtomically(path, temporaryPath, fillerOf(data));
}

Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, const ChunkReader& read)
{
    return ReplaceFileAtomically(path, temporaryPath, fillerOf(read));
}

Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, const FileFiller& fill)
{
    Result<void> done = fillAndFlush(temporaryPath, path, fill);
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
    return WriteFileDurably(path, fillerOf(data));
}

Result<void> WriteFileDurably(const QString& path, const ChunkReader& read)
{
    return WriteFileDurably(path, fillerOf(read));
}

Result<void> WriteFileDurably(const QString& path, const FileFiller& fill)
{
    return fillAndFlush(path, path, fill);
}

bool WriteAll(QFile& file, QByteArrayView data)
{
    for (qsizetype done = 0; done < data.size();) {
        const qint64 n = file.write(data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool SyncFolder(const QString& folder)
{
    return syncFolder(folder);
}

WrittenFile::WrittenFile(int descriptor, QString temporaryPath, QString path, qint64 size)
    : m_descriptor(descriptor)
    , m_temporaryPath(std::move(temporaryPath))
    , m_path(std::move(path))
    , m_size(size)
{
}

WrittenFile::WrittenFile(WrittenFile&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
    , m_temporaryPath(std::exchange(other.m_temporaryPath, QString()))
    , m_path(std::move(other.m_path))
    , m_size(other.m_size)
{
}

WrittenFile::~WrittenFile()
{
    drop();
}

bool WrittenFile::commit()
{
    if (m_descriptor < 0)
        return false;
    const bool whole = syncDescriptor(m_descriptor) && descriptorSize(m_descriptor) == m_size;
    const bool closed = closeDescriptor(std::exchange(m_descriptor, -1));
    if (!whole || !closed || !replace(m_temporaryPath, m_path)) {
        drop();
        return false;
    }
    m_temporaryPath.clear(); // it is the file under path now
    return true;
}

void WrittenFile::drop()
{
    if (m_descriptor >= 0)
        closeDescriptor(std::exchange(m_descriptor, -1));
    if (!m_temporaryPath.isEmpty())
        QFile::remove(std::exchange(m_temporaryPath, QString()));
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
    if (!WriteAll(m_file, data)) {
        m_failed = true;
        return false;
    }
    m_written += data.size();
    return true;
}

std::optional<WrittenFile> AtomicFileWriter::finish()
{
    if (!m_failed && !m_file.isOpen())
        open();
    if (m_failed) {
        discard();
        return std::nullopt;
    }
    // The descriptor outlives the QFile, which stays on this thread.
    std::optional<WrittenFile> file;
    if (const int descriptor = duplicateDescriptor(m_file.handle()); descriptor >= 0)
        file.emplace(descriptor, m_file.fileName(), m_path, m_written);
    m_file.close();
    m_failed = true; // nothing more can be written
    if (!file || m_file.error() != QFileDevice::NoError) {
        discard();
        return std::nullopt;
    }
    m_handedOver = true;
    return file;
}

void AtomicFileWriter::discard()
{
    m_failed = true;
    if (m_file.isOpen())
        m_file.close();
    if (!m_handedOver)
        QFile::remove(m_file.fileName());
}

} // namespace zp
