#pragma once

#include "net/PageReader.h"
#include "net/PageRequest.h"

class QNetworkAccessManager;

namespace zp {

class StopFlag;

// Reads catalogue pages over HTTP/1.1 on a shared QNetworkAccessManager, so
// that connections to the site stay open from one page to the next.
//
// ReadHTML sends a GET for url (the body argument goes with it when not
// empty), follows redirects only within the same scheme, host and port, verifies TLS
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
//    clock, counted from when the request is sent. A server that never
//    answers, or answers with a reason phrase other than "OK" ("ok", a
//    redirect that is not followed), ends here;
//  - with an empty result, at once, on a definitive failure: an HTTP status
//    of 400 or above, a refused connection or an unknown host;
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
    static constexpr qint64 kMaxBodyBytes = PageRequest::kMaxBodyBytes;

    PageFetcher(QNetworkAccessManager& manager, const StopFlag& stop);

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override;
    QString lastFailure() const override { return m_lastFailure; }

private:
    QNetworkAccessManager& m_manager;
    const StopFlag& m_stop;
    QString m_lastFailure;
};

} // namespace zp
