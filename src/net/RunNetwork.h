#pragma once

#include "net/BackgroundDownloader.h"
#include "net/NetworkPageSource.h"
#include "net/PageFetcher.h"
#include "net/PagePrefetcher.h"
#include "net/ShopAccess.h"

#include <memory>

class QNetworkAccessManager;

namespace zp {

class StopFlag;

// The page reader and the picture downloader of a run with up to
// `connections` requests at once to the catalogue and as many to the picture
// server: with one, pages are read one at a time on a manager of their own;
// with more, through a look-ahead (PagePrefetcher). Pictures always go
// through the one picture engine (BackgroundDownloader) with `connections`
// transfers at once, on managers of its own. Every manager is made by access.
class RunNetwork {
public:
    static constexpr int kMinConnections = 1;
    static constexpr int kMaxConnections = 16;
    static constexpr int kDefaultConnections = 6;

    RunNetwork(const StopFlag& stop, int connections, int timeoutSeconds, const ShopAccess& access);

    PageReader& reader();
    Downloader& downloader();

private:
    std::unique_ptr<QNetworkAccessManager> m_manager;
    PageFetcher m_fetcher;
    BackgroundDownloader m_pictures;
    std::unique_ptr<NetworkPageSource> m_source;
    std::unique_ptr<PagePrefetcher> m_prefetcher;
};

} // namespace zp
