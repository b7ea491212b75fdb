#include "util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

Result<void> syncFile(QFile& file)
{
    errno = 0;
    if (!file.flush() || ::fsync(file.handle()) != 0)
        return Failure::ofFile(file);
    return {};
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
        return Failure::fromErrno(errno).within(u"cannot create "_s + temporaryPath);
    errno = 0;
    if (!file.open(
            fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        const Failure failure = Failure::ofFile(file);
        ::close(fd);
        return failure.within(u"cannot create "_s + temporaryPath);
    }
    return {};
}

Result<void> replace(const QString& temporaryPath, const QString& path)
{
    if (::rename(QFile::encodeName(temporaryPath).constData(), QFile::encodeName(path).constData())
        == 0)
        return {};
    return Failure::fromErrno(errno).within(u"cannot replace "_s + path);
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
    if (done)
        done = syncFile(file);
    errno = 0;
    file.close();
    if (done && file.error() != QFileDevice::NoError)
        done = Failure::ofFile(file);
    if (!done)
        return std::move(done).failure().within(u"cannot write "_s + temporaryPath);
    return {};
}

} // namespace

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

Result<void> WriteFileDurably(const QString& path, const FileFiller& fill)
{
    return fillAndFlush(path, path, fill);
}

Result<void> WriteAll(QFile& file, QByteArrayView data)
{
    for (qsizetype done = 0; done < data.size();) {
        errno = 0;
        const qint64 n = file.write(data.data() + done, data.size() - done);
        if (n <= 0)
            return Failure::ofFile(file);
        done += n;
    }
    return {};
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
