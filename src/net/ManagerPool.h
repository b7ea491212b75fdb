#pragma once

#include "net/ShopAccess.h"

#include <QNetworkAccessManager>
#include <memory>
#include <vector>

namespace zp {

// The network managers of one engine. Qt's manager keeps at most six
// connections per host and queues the requests beyond them, where their
// time-out would run before they are sent; so the pool holds one manager per
// six connections, made by the run's ShopAccess, and lends the least busy one.
class ManagerPool {
public:
    static constexpr int kConnectionsPerManager = 6;

    // connections: how many requests the engine will have under way at once.
    ManagerPool(int connections, const ShopAccess& access);

    // The least busy manager, counted busy with one more request until
    // release() is called for it once.
    QNetworkAccessManager& acquire();
    void release(QNetworkAccessManager& manager);

private:
    struct Manager {
        std::unique_ptr<QNetworkAccessManager> manager;
        int busy = 0;
    };
    std::vector<Manager> m_managers;
};

} // namespace zp
