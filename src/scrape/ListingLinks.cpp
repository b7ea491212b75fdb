#include "scrape/ListingLinks.h"

#include "scrape/ProductExtractor.h"
#include "util/HtmlParser.h"

using namespace Qt::Literals::StringLiterals;

namespace zp {

void LinkList::append(const QByteArray& utf8Link)
{
    m_text += utf8Link;
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

ListingLinks ListingLinks::read(const QString& pageText, qint64 maxBytes)
{
    ListingLinks links;
    // Appends link unless it would pass maxBytes.
    const auto take = [&links, maxBytes](LinkList& list, const QString& link) {
        const QByteArray utf8 = link.toUtf8();
        links.cut = links.heldBytes() + utf8.size() + qint64 { sizeof(qint32) } > maxBytes;
        if (!links.cut)
            list.append(utf8);
        return !links.cut;
    };
    qint32 pos = 1;
    qint32 endPos = 0;
    qint32 startPos = 0;
    // Product links count only when no sub-listing link lies behind them.
    for (;;) {
        const QString link
            = ExtractBetween(pageText, SubListingMarker, u"\""_s, pos, endPos, startPos);
        if (link.isEmpty() || !take(links.subListings, link))
            break;
        pos = endPos;
    }
    // Which product links lie behind the last sub-listing link is not known
    // once sub-listing links were left out.
    for (; !links.cut;) {
        const QString link = ExtractBetween(
            pageText, ProductExtractor::ProductLinkMarker, u"\""_s, pos, endPos, startPos);
        pos = endPos;
        if (link.isEmpty() || !take(links.products, link))
            break;
    }
    links.subListings.squeeze();
    links.products.squeeze();
    return links;
}

} // namespace zp
