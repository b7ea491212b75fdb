#pragma once

#include "net/PageReader.h"

class QNetworkAccessManager;

namespace zp {

class StopFlag;

// Reads catalogue pages over HTTP/1.1 on a shared QNetworkAccessManager, so
// that connections to the site stay open from one page to the next.
//
// ReadHTML sends a GET for url (the body argument goes with it when not
// empty), follows redirects that do not lower security, verifies TLS
// certificates, and waits in a local event loop: window events keep running
// during the wait, so a click may re-enter the caller's handler.
//
// The wait ends
//  - when the final response's reason phrase reads exactly "OK" (letter case
//    counts) and its body is complete: the result is the raw body bytes,
//    which may be empty;
//  - with an empty result as soon as a response read "OK" but its body could
//    not be had whole (connection lost mid-body, body over kMaxBodyBytes);
//  - with an empty result when timeoutSeconds have passed on the monotonic
//    clock. Any reason phrase other than "OK" (404 "Not Found", "ok"), a
//    refused connection, an unknown host or a server that never answers all
//    end here: the caller hears of the failure only at the deadline;
//  - with an empty result, at once, when the stop flag is raised. A flag
//    already set at entry still lets the request go out and gives events one
//    pass; the body is returned only if it was complete by then. Such a
//    request is left to finish on its own, bounded by timeoutSeconds of
//    silence, and its answer is discarded.
// Nothing is thrown and nothing is shown.
//
// Both the manager and the stop flag must outlive the fetcher. The fetcher
// takes over no setting of the manager; the manager's proxy is used as set,
// by default the system's proxy settings.
class PageFetcher final : public PageReader {
public:
    // A larger body is a failed fetch; it is abandoned as soon as its size is
    // announced or reached.
    static constexpr qint64 kMaxBodyBytes = 64LL * 1024 * 1024;

    PageFetcher(QNetworkAccessManager& manager, const StopFlag& stop);

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override;

private:
    QNetworkAccessManager& m_manager;
    const StopFlag& m_stop;
};

} // namespace zp
