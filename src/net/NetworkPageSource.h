#pragma once

#include "net/ManagerPool.h"
#include "net/PendingPage.h"
#include "net/ShopAccess.h"

namespace zp {

// Starts page requests over HTTP (PageRequest) on managers of its own
// (ManagerPool), each on the least busy one. Whoever starts more requests at
// once than the connections it was made for sees them queued again.
class NetworkPageSource final : public PageSource {
public:
    // connections: how many requests the caller will have under way at once.
    explicit NetworkPageSource(int connections, ShopAccess access = {});

    std::unique_ptr<PendingPage> start(
        const QString& url, const QString& body, int timeoutSeconds) override;

private:
    ShopAccess m_access;
    ManagerPool m_managers;
};

} // namespace zp
