#include "scrape/ListingLinks.h"

#include "scrape/CatalogCrawler.h"
#include "util/HtmlParser.h"

using namespace Qt::Literals::StringLiterals;

namespace zp {

void LinkList::append(QStringView link)
{
    m_text += link.toUtf8();
    m_ends.append(static_cast<qint32>(m_text.size()));
}

QString LinkList::at(qsizetype index) const
{
    const qint32 begin = index == 0 ? 0 : m_ends[index - 1];
    return QString::fromUtf8(m_text.constData() + begin, m_ends[index] - begin);
}

void LinkList::squeeze()
{
    m_text.squeeze();
    m_ends.squeeze();
}

ListingLinks ListingLinks::read(const QString& pageText)
{
    ListingLinks links;
    qint32 pos = 1;
    qint32 endPos = 0;
    qint32 startPos = 0;
    // Product links count only when no sub-listing link lies behind them.
    for (;;) {
        const QString link = ExtractBetween(
            pageText, CatalogCrawler::SubListingMarker, u"\""_s, pos, endPos, startPos);
        if (link.isEmpty())
            break;
        pos = endPos;
        links.subListings.append(link);
    }
    for (;;) {
        const QString link = ExtractBetween(
            pageText, CatalogCrawler::ProductLinkMarker, u"\""_s, pos, endPos, startPos);
        pos = endPos;
        if (link.isEmpty())
            break;
        links.products.append(link);
    }
    links.subListings.squeeze();
    links.products.squeeze();
    return links;
}

} // namespace zp
