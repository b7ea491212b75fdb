#pragma once

#include <QString>

class QFileDevice;

namespace zp {

// Why an operation failed: its kind, for the caller to decide by (as
// leveldb's Status tells IsNotFound from IsCorruption), and its detail, the
// reason in words (the system's or a parser's text, each layer putting what
// it was doing in front), for the user. Converts to any Result.
class Failure {
public:
    enum class Kind {
        NotFound, // the file, or a folder on its path, is not there (ENOENT, ENOTDIR)
        NoAccess, // no permission, or a read-only file system (EACCES, EPERM, EROFS)
        NoSpace, // the disk or the user's quota is full (ENOSPC, EDQUOT)
        TooLarge, // refused for its size, by the file-size limit (EFBIG) or a bound of ours
        Damaged, // not what its format says: a broken zip, malformed XML, a missing part
        Unsupported, // well formed, but beyond the program: encryption, an unknown compression
        IOError, // any other failure of the system
    };

    Failure(Kind kind, QString detail);

    // The failure of a system call that left error in errno; the detail is
    // the system's text for it.
    static Failure fromErrno(int error);
    // The failure of file's last call, which failed just now: the system's
    // from the errno it left, or an IOError with the file's error text when
    // it left none. Clear errno before the call.
    static Failure ofFile(const QFileDevice& file);
    static Kind kindOfErrno(int error);

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    const QString& detail() const { return m_detail; }

    // The same failure met while doing context: "context: detail".
    Failure within(const QString& context) const&;
    Failure within(const QString& context) &&;

private:
    Kind m_kind;
    QString m_detail;
};

} // namespace zp
