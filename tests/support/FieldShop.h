#pragma once

#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

namespace zp::test {

// The demo shop behind nginx over HTTPS, and on request tinyproxy in front
// of it (tools/field-shop/field_shop.py), run by a test on free loopback
// ports. Stops them all when destroyed.
class FieldShop {
public:
    struct Options {
        QString cert = QStringLiteral("good"); // good, self-signed, expired, wrong-name
        int rate = 0; // requests per second nginx allows; 0: no limit
        int burst = 10;
        int retryAfter = -1; // >= 0: seconds nginx's 429 asks to wait
        bool proxy = false;
        QString proxyCredentials; // "user:password" the proxy asks for; empty: none
        QStringList demo; // options of the demo shop (--products, --seed ...)
    };

    ~FieldShop();

    // Starts everything and waits (at most 60 s) until it listens.
    bool start(const Options& options);

    QString catalogBaseUrl() const { return m_catalog; }
    QString imageBaseUrl() const { return m_image; }
    QString proxyUrl() const { return m_proxy; }
    // The test CA, which signed every certificate but the self-signed one.
    QList<QSslCertificate> certificateAuthority() const;
    // nginx's log: one line a request, "<protocol> <status> <target>".
    QStringList accessLog() const;
    // tinyproxy's log lines.
    QStringList proxyLog() const;

private:
    QProcess m_process;
    QString m_catalog;
    QString m_image;
    QString m_proxy;
    QString m_ca;
    QString m_accessLog;
    QString m_proxyLog;
};

} // namespace zp::test
