#include "net/NetworkPageSource.h"

#include "net/PageRequest.h"

#include <algorithm>

namespace zp {

NetworkPageSource::NetworkPageSource(int connections, ShopAccess access)
    : m_access(std::move(access))
{
    const int count
        = std::max(1, (connections + kConnectionsPerManager - 1) / kConnectionsPerManager);
    for (int i = 0; i < count; ++i) {
        m_managers.push_back(Manager { m_access.makeManager() });
    }
}

std::unique_ptr<PendingPage> NetworkPageSource::start(
    const QString& url, const QString& body, int timeoutSeconds)
{
    const auto least = std::min_element(m_managers.begin(), m_managers.end(),
        [](const Manager& a, const Manager& b) { return a.busy < b.busy; });
    auto request
        = std::make_unique<PageRequest>(*least->manager, url, body, timeoutSeconds, m_access);
    int& busy = least->busy;
    ++busy;
    // Counted down once: when the page is in, or when it is given up.
    auto counted = std::make_shared<bool>(true);
    const auto release = [&busy, counted] {
        if (std::exchange(*counted, false))
            --busy;
    };
    QObject::connect(request.get(), &PendingPage::finished, least->manager.get(), release);
    QObject::connect(request.get(), &QObject::destroyed, least->manager.get(), release);
    return request;
}

} // namespace zp
