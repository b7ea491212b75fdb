#include "net/ManagerPool.h"

#include <algorithm>

namespace zp {

ManagerPool::ManagerPool(int connections, const ShopAccess& access)
{
    const int count
        = std::max(1, (connections + kConnectionsPerManager - 1) / kConnectionsPerManager);
    for (int i = 0; i < count; ++i)
        m_managers.push_back(Manager { access.makeManager() });
}

QNetworkAccessManager& ManagerPool::acquire()
{
    Manager& least = *std::min_element(m_managers.begin(), m_managers.end(),
        [](const Manager& a, const Manager& b) { return a.busy < b.busy; });
    ++least.busy;
    return *least.manager;
}

void ManagerPool::release(QNetworkAccessManager& manager)
{
    const auto found = std::find_if(m_managers.begin(), m_managers.end(),
        [&manager](const Manager& m) { return m.manager.get() == &manager; });
    if (found != m_managers.end())
        --found->busy;
}

} // namespace zp
