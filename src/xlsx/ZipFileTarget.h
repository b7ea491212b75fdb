#pragma once

#include "util/Result.h"

#include <QFile>
#include <optional>
#include <vector>
#include <zip.h>

namespace zp {

// The file a new zip archive is written into: a libzip source that reads as
// an empty archive and puts the bytes zip_close() writes into the file as
// they come (gathered into pieces of at most PendingLimit), at the positions
// libzip asks for, so that the archive is never held in memory. Open it with
// zip_open_from_source(ZIP_CREATE | ZIP_TRUNCATE). The file stays the
// caller's: it is neither opened, closed nor flushed to disk here.
class ZipFileTarget {
public:
    // file must be open for writing and seekable, and outlive the target.
    explicit ZipFileTarget(QFile& file);
    ~ZipFileTarget();
    ZipFileTarget(const ZipFileTarget&) = delete;
    ZipFileTarget& operator=(const ZipFileTarget&) = delete;

    // A new source writing into the file, for zip_open_from_source(), which
    // takes it over; null, with error set, when libzip cannot make one. The
    // target must outlive the source.
    zip_source_t* createSource(zip_error_t* error);

    // Why the file refused a write, a seek or a flush; nothing while it has
    // not. After the first refusal every later write is refused too.
    const std::optional<Failure>& failure() const { return m_failure; }

private:
    static zip_int64_t command(
        void* target, void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t read(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t write(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t append(const char* data, zip_uint64_t length);
    Result<void> writePending();
    zip_int64_t seekWrite(void* data, zip_uint64_t length);
    // Notes the file's failure of the call that failed just now.
    zip_int64_t fail(int code);
    zip_int64_t fail(int code, Failure failure);

    static constexpr std::size_t PendingLimit = 256 * 1024;

    QFile& m_file;
    zip_error_t m_error;
    std::optional<Failure> m_failure;
    std::vector<char> m_pending; // written, not yet in the file
};

} // namespace zp
