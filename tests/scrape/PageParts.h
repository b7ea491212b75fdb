#pragma once

#include "ScrapeFixture.h"

#include <QList>
#include <QPair>
#include <QString>

// Pieces of pages in the catalogue site's markup, for building test pages.
namespace zp::test::page {

using Link = QPair<QString, QString>; // href, text

inline QString head()
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"fi\">\n<head><meta charset=\"utf-8\">"
                          "<title>Tolmari</title></head>\n<body>\n");
}

inline QString orderNumber(const QString& number)
{
    return QStringLiteral("<table class=\"productinfo\">\n<tr>\n\t<th>Tilausnumero</th>\n\t<td>")
        + number + QStringLiteral("</td>\n</tr>\n</table>\n");
}

inline QString breadcrumb(const QList<Link>& categories)
{
    QString html = QStringLiteral("<div id=\"breadcrumb\"><a href=\"/\">Etusivu</a> &raquo; "
                                  "<a href=\"/catalog/\">Tolmari</a>");
    for (const Link& c : categories)
        html += QStringLiteral(" &raquo; <a href=\"") + c.first + QStringLiteral("\">") + c.second
            + QStringLiteral("</a>");
    return html + QStringLiteral("\n</div>\n");
}

// pathAfterBase follows ImageBaseUrl, e.g. "/normal/ZV-1.jpg".
inline QString picture(const QString& pathAfterBase)
{
    return QStringLiteral("<div class=\"productimage\"><img src=\"") + TestImageBaseUrl
        + pathAfterBase + QStringLiteral("\" alt=\"\"></div>\n");
}

inline QString description(const QString& text)
{
    return QStringLiteral("<table>\n<tr>\n\t<th valign=\"top\">Kuvaus</th>\n\t<td valign=\"top\">")
        + text + QStringLiteral("</td>\n</tr>\n</table>\n");
}

// One property row; gap lies between the name's "</th>" and the value's "<td>".
inline QString property(
    const QString& name, const QString& value, const QString& gap = QStringLiteral("\n\t"))
{
    return QStringLiteral("<tr>\n\t<th width=\"30%\">") + name + QStringLiteral("</th>") + gap
        + QStringLiteral("<td>") + value + QStringLiteral("</td>\n</tr>\n");
}

inline QString propertiesTable(const QString& rows)
{
    return QStringLiteral("<h2>Tekniset tiedot</h2>\n<table class=\"productproperties\">\n") + rows
        + QStringLiteral("</table>\n");
}

// A product table as listing pages and the accessories of product pages have.
inline QString productTable(const QList<Link>& products)
{
    QString html = QStringLiteral("<table class=\"products\">\n");
    for (const Link& p : products)
        html += QStringLiteral("<tr>\n<td class=\"first\"><a href=\"") + p.first
            + QStringLiteral("\">") + p.second
            + QStringLiteral("</a></td>\n<td>19,90 &euro;</td>\n</tr>\n");
    return html + QStringLiteral("</table>\n");
}

inline QString subListing(const QString& href, const QString& title)
{
    return QStringLiteral("<div class=\"category\"><div class=\"title\"><a href=\"") + href
        + QStringLiteral("\">") + title + QStringLiteral("</a></div></div>\n");
}

inline QString tail()
{
    return QStringLiteral("<div id=\"footer\">Tolmari Oy</div>\n</body>\n</html>\n");
}

} // namespace zp::test::page
