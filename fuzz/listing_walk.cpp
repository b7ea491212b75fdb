// Any graph of listing pages (cycles, self links, deep chains, links to
// other hosts) walked by the crawler. The input holds the pages one after
// the other, separated by "#PAGE#"; page k answers at BaseUrl + "/l/k", page
// 0 is the first page. Every other address of the shop answers with a small
// product page.
#include "FuzzScrape.h"
#include "scrape/CatalogCrawler.h"
#include "util/Utf8.h"

#include <QHash>
#include <cstdint>

namespace {

class GraphPages final : public zp::PageReader {
public:
    explicit GraphPages(const QByteArray& input)
    {
        int index = 0;
        qsizetype from = 0;
        for (qsizetype at; (at = input.indexOf("#PAGE#", from)) >= 0; from = at + 6)
            m_pages.insert(address(index++), input.mid(from, at - from));
        m_pages.insert(address(index), input.mid(from));
    }

    static QString address(int index)
    {
        return zp::fuzz::BaseUrl + QStringLiteral("/l/%1").arg(index);
    }

    QByteArray first() const { return m_pages.value(address(0)); }

    QByteArray ReadHTML(const QString& url, const QString&, int) override
    {
        zp::fuzz::require(zp::fuzz::isShopAddress(url));
        // At most once as a listing and once as a product.
        zp::fuzz::require(++m_fetches[url] <= 2);
        if (const auto it = m_pages.constFind(url); it != m_pages.constEnd())
            return *it;
        return QByteArrayLiteral("Tilausnumero</th>\n\t<td>ZV-1</td>");
    }

private:
    QHash<QString, QByteArray> m_pages;
    QHash<QString, int> m_fetches;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zp::fuzz;
    GraphPages pages(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    ScrapeWorld world(pages);
    zp::CatalogCrawler crawler(world.context);
    crawler.ParseCategory(zp::UTF8ToUnicode(pages.first()), GraphPages::address(0));
    require(world.state.NextRow == 2 + world.state.NewCount);
    return 0;
}
