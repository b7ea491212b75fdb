#include "util/SameOrigin.h"

#include <QUrl>

namespace zp {

namespace {

int effectivePort(const QUrl& url)
{
    if (url.port() != -1)
        return url.port();
    if (url.scheme() == u"http")
        return 80;
    if (url.scheme() == u"https")
        return 443;
    return -1;
}

} // namespace

bool IsSameOrigin(const QString& url, const QString& base)
{
    const QUrl address(url);
    const QUrl origin(base);
    if (!address.isValid() || !origin.isValid() || address.isRelative() || address.host().isEmpty())
        return false;
    return address.scheme() == origin.scheme()
        && address.host().compare(origin.host(), Qt::CaseInsensitive) == 0
        && effectivePort(address) == effectivePort(origin);
}

} // namespace zp
