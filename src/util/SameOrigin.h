#pragma once

#include <QString>

namespace zp {

// True when url is a valid absolute address with the same scheme, host and
// port as base (ports compared as used, so "http://h" and "http://h:80"
// agree). Links from a page are appended to the shop's address unchanged, so
// a link such as "@other.host/x" or ".other.host/x" would otherwise name
// another host.
bool IsSameOrigin(const QString& url, const QString& base);

} // namespace zp
