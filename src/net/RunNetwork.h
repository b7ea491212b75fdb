#pragma once

#include "net/BackgroundDownloader.h"
#include "net/FileDownloader.h"
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
// server: with one, pages and pictures are read one at a time on the
// manager of its own; with more, pages through a look-ahead (PagePrefetcher)
// and pictures in the background (BackgroundDownloader), on managers of
// their own. Every manager is made by access.
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
    FileDownloader m_files;
    std::unique_ptr<BackgroundDownloader> m_pictures;
    std::unique_ptr<NetworkPageSource> m_source;
    std::unique_ptr<PagePrefetcher> m_prefetcher;
};

} // namespace zp
