#pragma once

#include "net/BackgroundDownloader.h"
#include "net/NetworkPageSource.h"
#include "net/PagePrefetcher.h"
#include "net/ShopAccess.h"

#include <memory>

namespace zp {

class StopFlag;

// The page reader and the picture downloader of a run with up to
// `connections` requests at once to the catalogue and as many to the picture
// server. Pages always go through the look-ahead engine (PagePrefetcher),
// which with one connection reads the next page while the crawl works on
// the last; pictures through the one picture engine (BackgroundDownloader)
// with `connections` transfers at once. Every manager is made by access.
class RunNetwork {
public:
    static constexpr int kMinConnections = 1;
    static constexpr int kMaxConnections = 16;
    static constexpr int kDefaultConnections = 6;

    RunNetwork(const StopFlag& stop, int connections, int timeoutSeconds, const ShopAccess& access);

    PageReader& reader() { return m_prefetcher; }
    Downloader& downloader();

private:
    NetworkPageSource m_source;
    PagePrefetcher m_prefetcher;
    BackgroundDownloader m_pictures;
};

} // namespace zp
