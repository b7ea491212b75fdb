#include "net/RunNetwork.h"

namespace zp {

RunNetwork::RunNetwork(
    QNetworkAccessManager& manager, const StopFlag& stop, int connections, int timeoutSeconds)
    : m_fetcher(manager, stop)
    , m_files(FileDownloader::kDefaultIdleTimeout, &stop)
{
    if (connections <= 1)
        return;
    m_source = std::make_unique<NetworkPageSource>(connections);
    m_prefetcher = std::make_unique<PagePrefetcher>(*m_source, stop, connections, timeoutSeconds);
    m_pictures = std::make_unique<BackgroundDownloader>(stop, connections);
}

Downloader& RunNetwork::downloader()
{
    if (m_pictures)
        return *m_pictures;
    return m_files;
}

PageReader& RunNetwork::reader()
{
    if (m_prefetcher)
        return *m_prefetcher;
    return m_fetcher;
}

} // namespace zp
