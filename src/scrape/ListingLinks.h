#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <limits>

namespace zp {

// Links in page order, held as UTF-8 end to end in one array: a listing's
// links stay in memory while everything below it is walked, and a page
// crammed with tiny links would cost several times its size as a list of
// strings.
class LinkList {
public:
    void append(const QByteArray& utf8Link);
    qsizetype size() const { return m_ends.size(); }
    QString at(qsizetype index) const;
    // What the list holds in memory once squeezed.
    qint64 heldBytes() const { return m_text.size() + m_ends.size() * qint64 { sizeof(qint32) }; }
    void squeeze();

private:
    QByteArray m_text;
    QList<qint32> m_ends;
};

// The links of one listing page that the walk follows: its sub-listings,
// and the products behind the last sub-listing link.
struct ListingLinks {
    // Starts a sub-listing link; product links start with
    // ProductExtractor::ProductLinkMarker.
    static inline const QString SubListingMarker
        = QStringLiteral("<div class=\"title\"><a href=\"");

    LinkList subListings;
    LinkList products;

    // Cuts them out of the decoded page text by their markers, as long as
    // they hold less than maxBytes; the rest is left out and cut set.
    static ListingLinks read(
        const QString& pageText, qint64 maxBytes = std::numeric_limits<qint64>::max());
    qint64 heldBytes() const { return subListings.heldBytes() + products.heldBytes(); }

    bool cut = false; // links were left out
};

} // namespace zp
