// Any product page text, picture names included, cut into a row of a sheet
// in memory.
#include "FuzzScrape.h"
#include "scrape/ProductExtractor.h"
#include "util/Utf8.h"

#include <cstdint>

namespace {

class NoPages final : public zp::PageReader {
public:
    QByteArray ReadHTML(const QString&, const QString&, int) override { return {}; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zp::fuzz;
    const QString page = zp::UTF8ToUnicode(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (page.isEmpty())
        return 0; // the crawler never hands over an empty page
    NoPages pages;
    ScrapeWorld world(pages);
    zp::ProductExtractor extractor(world.context);
    const QString url = BaseUrl + QStringLiteral("/p/1");
    extractor.ParseProduct(page, url);

    require(world.state.NextRow == 3 && world.state.NewCount == 1);
    require(world.sheet.link(2, 1) == url);
    for (const int column : world.sheet.columnsOf(2))
        require(column >= 1 && column <= 16384);
    for (int column = 4; column <= 13; ++column) {
        if (world.sheet.hasLink(2, column))
            require(world.sheet.link(2, column).startsWith(BaseUrl));
    }
    return 0;
}
