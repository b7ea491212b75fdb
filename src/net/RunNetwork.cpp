#include "net/RunNetwork.h"

#include <QNetworkAccessManager>

namespace zp {

RunNetwork::RunNetwork(
    const StopFlag& stop, int connections, int timeoutSeconds, const ShopAccess& access)
    : m_manager(access.makeManager())
    , m_fetcher(*m_manager, stop, access)
    , m_pictures(stop, connections, access)
{
    if (connections <= 1)
        return;
    m_source = std::make_unique<NetworkPageSource>(connections, access);
    m_prefetcher = std::make_unique<PagePrefetcher>(*m_source, stop, connections, timeoutSeconds);
}

Downloader& RunNetwork::downloader()
{
    return m_pictures;
}

PageReader& RunNetwork::reader()
{
    if (m_prefetcher)
        return *m_prefetcher;
    return m_fetcher;
}

} // namespace zp
