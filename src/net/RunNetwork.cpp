#include "net/RunNetwork.h"

namespace zp {

RunNetwork::RunNetwork(
    const StopFlag& stop, int connections, int timeoutSeconds, const ShopAccess& access)
    : m_source(connections, access)
    , m_prefetcher(m_source, stop, connections, timeoutSeconds)
    , m_pictures(stop, connections, access)
{
    m_prefetcher.sharePacing(m_pacing);
    m_pictures.sharePacing(m_pacing);
}

Downloader& RunNetwork::downloader()
{
    return m_pictures;
}

} // namespace zp
