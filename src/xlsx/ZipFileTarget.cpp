#include "xlsx/ZipFileTarget.h"

#include "util/AtomicFile.h"

#include <cerrno>

namespace zp {

ZipFileTarget::ZipFileTarget(QFile& file)
    : m_file(file)
{
    zip_error_init(&m_error);
}

ZipFileTarget::~ZipFileTarget()
{
    zip_error_fini(&m_error);
}

zip_source_t* ZipFileTarget::createSource(zip_error_t* error)
{
    return zip_source_function_create(&ZipFileTarget::command, this, error);
}

zip_int64_t ZipFileTarget::command(
    void* target, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* self = static_cast<ZipFileTarget*>(target);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->m_error, data, length);
    case ZIP_SOURCE_ROLLBACK_WRITE: // the caller removes the file
    case ZIP_SOURCE_FREE: // the caller owns the target
        return 0;
    case ZIP_SOURCE_STAT:
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_CLOSE:
        return self->read(data, length, command);
    default:
        return self->write(data, length, command);
    }
}

// The archive as read before writing: an existing, empty one, which
// zip_open_from_source() with ZIP_TRUNCATE replaces without reading it.
zip_int64_t ZipFileTarget::read(void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_STAT: {
        zip_stat_t* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &m_error);
        if (!stat)
            return -1;
        zip_stat_init(stat);
        stat->size = 0;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_SEEK:
        return zip_source_seek_compute_offset(0, 0, data, length, &m_error) < 0 ? -1 : 0;
    default: // open, read, tell, close: at offset 0 of nothing
        return 0;
    }
}

zip_int64_t ZipFileTarget::write(void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    // Whatever came after a refused write would leave a hole in the archive.
    if (m_failure) {
        zip_error_set(&m_error, ZIP_ER_WRITE, 0);
        return -1;
    }
    switch (command) {
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_REMOVE: // an archive without entries is an empty file
        m_pending.clear();
        errno = 0;
        return m_file.resize(0) && m_file.seek(0) ? 0 : fail(ZIP_ER_WRITE);
    case ZIP_SOURCE_WRITE:
        return append(static_cast<const char*>(data), length);
    case ZIP_SOURCE_SEEK_WRITE:
        return seekWrite(data, length);
    case ZIP_SOURCE_TELL_WRITE:
        return m_file.pos() + qint64(m_pending.size());
    case ZIP_SOURCE_COMMIT_WRITE:
        if (Result<void> written = writePending(); !written)
            return fail(ZIP_ER_WRITE, std::move(written).failure());
        errno = 0;
        return m_file.flush() ? 0 : fail(ZIP_ER_WRITE);
    default:
        zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// libzip writes in pieces of a few KiB; each one written to the file by
// itself makes a save markedly slower.
zip_int64_t ZipFileTarget::append(const char* data, zip_uint64_t length)
{
    if (m_pending.size() + length > PendingLimit) {
        if (Result<void> written = writePending(); !written)
            return fail(ZIP_ER_WRITE, std::move(written).failure());
    }
    const auto size = static_cast<qsizetype>(length);
    if (length >= PendingLimit) {
        Result<void> written = WriteAll(m_file, QByteArrayView(data, size));
        return written ? size : fail(ZIP_ER_WRITE, std::move(written).failure());
    }
    m_pending.insert(m_pending.end(), data, data + length);
    return size;
}

Result<void> ZipFileTarget::writePending()
{
    Result<void> written
        = WriteAll(m_file, QByteArrayView(m_pending.data(), qsizetype(m_pending.size())));
    m_pending.clear();
    return written;
}

zip_int64_t ZipFileTarget::seekWrite(void* data, zip_uint64_t length)
{
    // A buffered file's size counts the bytes in its buffer once flushed.
    if (Result<void> written = writePending(); !written)
        return fail(ZIP_ER_WRITE, std::move(written).failure());
    errno = 0;
    if (!m_file.flush())
        return fail(ZIP_ER_WRITE);
    const zip_int64_t offset
        = zip_source_seek_compute_offset(static_cast<zip_uint64_t>(m_file.pos()),
            static_cast<zip_uint64_t>(m_file.size()), data, length, &m_error);
    if (offset < 0)
        return -1;
    errno = 0;
    return m_file.seek(offset) ? 0 : fail(ZIP_ER_SEEK);
}

zip_int64_t ZipFileTarget::fail(int code)
{
    return fail(code, Failure::ofFile(m_file));
}

zip_int64_t ZipFileTarget::fail(int code, Failure failure)
{
    m_failure = std::move(failure);
    zip_error_set(&m_error, code, 0);
    return -1;
}

} // namespace zp
