#include "net/NetworkPageSource.h"

#include "net/PageRequest.h"

#include <QNetworkProxy>
#include <algorithm>

namespace zp {

NetworkPageSource::NetworkPageSource(int connections)
{
    const int count
        = std::max(1, (connections + kConnectionsPerManager - 1) / kConnectionsPerManager);
    for (int i = 0; i < count; ++i) {
        Manager manager { std::make_unique<QNetworkAccessManager>() };
        manager.manager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        m_managers.push_back(std::move(manager));
    }
}

std::unique_ptr<PendingPage> NetworkPageSource::start(
    const QString& url, const QString& body, int timeoutSeconds)
{
    const auto least = std::min_element(m_managers.begin(), m_managers.end(),
        [](const Manager& a, const Manager& b) { return a.busy < b.busy; });
    auto request = std::make_unique<PageRequest>(*least->manager, url, body, timeoutSeconds);
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
