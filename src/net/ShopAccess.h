#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkRequest;

namespace zp {

// How every request of a run reaches the shop and the picture server.
//
// Managers use the system's proxy configuration as every Qt program on this
// desktop does (http_proxy, https_proxy and no_proxy, or the desktop's
// settings), for pages and pictures alike; credentials written in the proxy's
// address are used. Certificates are always verified, against the system's
// certificate authorities and extraCaCertificates.
struct ShopAccess {
    QList<QSslCertificate> extraCaCertificates; // trusted besides the system's
    // HTTP/2 where a server offers it over TLS. Off: Qt 6.4 fails the requests
    // under way when a server ends an HTTP/2 connection with GOAWAY (nginx
    // does so after keepalive_requests) instead of sending them again.
    bool allowHttp2 = false;

    // A page with no whole answer, or a picture with no data, for this long
    // is given up (a fault that may pass).
    static constexpr std::chrono::seconds kTimeout { 60 };

    // A manager that asks the system for its proxy on every request.
    std::unique_ptr<QNetworkAccessManager> makeManager() const;

    // A GET of url: redirects only within the same scheme, host and port,
    // HTTP/2 where allowed and the server offers it over TLS, and transferTimeout of
    // silence ending the transfer. userAgent: sent when not empty.
    QNetworkRequest request(const QString& url, std::chrono::milliseconds transferTimeout,
        const QByteArray& userAgent = {}) const;
};

} // namespace zp
