#pragma once

#include "net/PageReader.h"
#include "net/PageRequest.h"

class QNetworkAccessManager;

namespace zp {

class StopFlag;

// Reads catalogue pages over HTTP on a shared QNetworkAccessManager, so
// that connections to the site stay open from one page to the next.
//
// ReadHTML sends a GET for url (the body argument goes with it when not
// empty), follows redirects only within the same scheme, host and port, verifies TLS
// certificates, and waits in a local event loop: window events keep running
// during the wait, so a click may re-enter the caller's handler.
//
// The wait ends
//  - when the final response's status is 200 (whatever its reason phrase)
//    and its body is complete: the result is the raw body bytes, which may
//    be empty;
//  - with an empty result when timeoutSeconds have passed on the monotonic
//    clock, counted from when the request is sent, without an answer;
//  - with an empty result, at once, on any other answer (PageRequest);
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

    PageFetcher(QNetworkAccessManager& manager, const StopFlag& stop, ShopAccess access = {});

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override;
    QString lastFailure() const override { return m_lastFailure; }

private:
    QNetworkAccessManager& m_manager;
    const StopFlag& m_stop;
    ShopAccess m_access;
    QString m_lastFailure;
};

} // namespace zp
