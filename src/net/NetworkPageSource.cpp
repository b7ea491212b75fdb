#include "net/NetworkPageSource.h"

#include "net/PageRequest.h"

#include <utility>

namespace zp {

NetworkPageSource::NetworkPageSource(int connections, ShopAccess access)
    : m_access(std::move(access))
    , m_managers(connections, m_access)
{
}

std::unique_ptr<PendingPage> NetworkPageSource::start(
    const QString& url, const QString& body, int timeoutSeconds)
{
    QNetworkAccessManager& manager = m_managers.acquire();
    auto request = std::make_unique<PageRequest>(manager, url, body, timeoutSeconds, m_access);
    // Released once: when the page is in, or when it is given up.
    auto counted = std::make_shared<bool>(true);
    const auto release = [this, &manager, counted] {
        if (std::exchange(*counted, false))
            m_managers.release(manager);
    };
    QObject::connect(request.get(), &PendingPage::finished, &manager, release);
    QObject::connect(request.get(), &QObject::destroyed, &manager, release);
    return request;
}

} // namespace zp
