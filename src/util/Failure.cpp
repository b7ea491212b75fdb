#include "util/Failure.h"

#include <QFileDevice>
#include <cerrno>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace zp {

Failure::Failure(Kind kind, QString detail)
    : m_kind(kind)
    , m_detail(std::move(detail))
{
}

Failure::Kind Failure::kindOfErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return Kind::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return Kind::NoAccess;
    case ENOSPC:
    case EDQUOT:
        return Kind::NoSpace;
    case EFBIG:
        return Kind::TooLarge;
    default:
        return Kind::IOError;
    }
}

Failure Failure::fromErrno(int error)
{
    return { kindOfErrno(error), QString::fromLocal8Bit(std::strerror(error)) };
}

Failure Failure::ofFile(const QFileDevice& file)
{
    // The system's own text, not Qt's (which translates a few of them only).
    if (const int error = errno; error != 0)
        return fromErrno(error);
    return { Kind::IOError, file.errorString() };
}

Failure Failure::within(const QString& context) const&
{
    return Failure(*this).within(context);
}

Failure Failure::within(const QString& context) &&
{
    m_detail = context + u": "_s + m_detail;
    return std::move(*this);
}

} // namespace zp
