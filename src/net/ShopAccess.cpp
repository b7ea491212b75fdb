#include "net/ShopAccess.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <algorithm>
#include <limits>

namespace zp {

namespace {

// Qt's default is the application's proxy, which is no proxy unless the
// program asks for the system's; asking per manager keeps it out of global
// state.
class SystemProxyFactory final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        return systemProxyForQuery(query);
    }
};

} // namespace

std::unique_ptr<QNetworkAccessManager> ShopAccess::makeManager() const
{
    auto manager = std::make_unique<QNetworkAccessManager>();
    manager->setProxyFactory(new SystemProxyFactory); // the manager owns it
    return manager;
}

QNetworkRequest ShopAccess::request(const QString& url, std::chrono::milliseconds transferTimeout,
    const QByteArray& userAgent) const
{
    QNetworkRequest request { QUrl(url) };
    if (!userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, allowHttp2);
    // Only the shop's own scheme, host and port: a redirect elsewhere fails.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(
        std::clamp<qint64>(transferTimeout.count(), 1, std::numeric_limits<int>::max())));
    if (!extraCaCertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extraCaCertificates);
        request.setSslConfiguration(tls);
    }
    return request;
}

} // namespace zp
