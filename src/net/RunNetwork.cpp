#include "net/RunNetwork.h"

namespace zp {

RunNetwork::RunNetwork(
    const StopFlag& stop, int connections, int timeoutSeconds, const ShopAccess& access)
    : m_source(connections, access)
    , m_prefetcher(m_source, stop, connections, timeoutSeconds)
    , m_pictures(stop, connections, access)
{
}

Downloader& RunNetwork::downloader()
{
    return m_pictures;
}

} // namespace zp
