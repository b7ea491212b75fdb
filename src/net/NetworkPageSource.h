#pragma once

#include "net/PendingPage.h"
#include "net/ShopAccess.h"

#include <QNetworkAccessManager>
#include <vector>

namespace zp {

// Starts page requests over HTTP (PageRequest) on managers of its own, made
// by the run's ShopAccess. Qt's manager keeps at most six connections per host
// and queues the requests beyond them, where their time-out would run
// before they are sent; so the source holds one manager per six
// connections and hands each request to the least busy one. Whoever starts
// more than 6 × managers requests at once sees them queued again.
class NetworkPageSource final : public PageSource {
public:
    static constexpr int kConnectionsPerManager = 6;

    // connections: how many requests the caller will have under way at once.
    explicit NetworkPageSource(int connections, ShopAccess access = {});

    std::unique_ptr<PendingPage> start(
        const QString& url, const QString& body, int timeoutSeconds) override;

private:
    struct Manager {
        std::unique_ptr<QNetworkAccessManager> manager;
        int busy = 0;
    };
    std::vector<Manager> m_managers;
    ShopAccess m_access;
};

} // namespace zp
