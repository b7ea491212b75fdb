#include "net/RunNetwork.h"

namespace zp {

RunNetwork::RunNetwork(
    const StopFlag& stop, int connections, int timeoutSeconds, const ShopAccess& access)
    : m_source(connections, access)
    , m_prefetcher(m_source, stop, connections, timeoutSeconds)
    , m_files(
          FileDownloader::kDefaultIdleTimeout, &stop, FileDownloader::kDefaultRetryDelays, access)
{
    if (connections <= 1)
        return;
    m_pictures = std::make_unique<BackgroundDownloader>(stop, connections,
        FileDownloader::kDefaultIdleTimeout, FileDownloader::kDefaultRetryDelays, access);
}

Downloader& RunNetwork::downloader()
{
    if (m_pictures)
        return *m_pictures;
    return m_files;
}

} // namespace zp
