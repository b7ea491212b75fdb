#pragma once

#include "catalog/RowLayout.h"
#include "scrape/ScrapeContext.h"
#include "util/Failure.h"
#include "util/HtmlParser.h"

#include <QDir>
#include <QString>
#include <optional>

namespace zp {

// Turns one product page into one row of the worksheet (row NextRow): order
// number, description, category path, properties, accessories and picture,
// with their links; downloads the picture into Images/ unless a file of that
// name is there already (the downloader goes on with it in the background,
// and tries a later address of a name on its way only when the earlier one
// fails; every save waits until the pictures of its rows are over and on disk
// to stay, and leaves out the rows whose pictures a second stop during that
// wait gave up: SettleRowPictures); advances NextRow, NewCount and the labels,
// and saves the workbook after every SaveEveryProducts new products.
//
// Fields are cut out of the page by plain markers, in a fixed order; from the
// picture onwards each search starts where the previous one stopped, so the
// page must show them in that order. Texts go into the cells exactly as found
// between their markers. A missing field leaves its cell empty; columns 1 and
// 2 are always written (column 1 always carries the link to the page).
//
// Every step runs on its own: when the sheet refuses a write or a link, the
// rest of that step is dropped and the next step goes on; the row is always
// finished and counted. Nothing is reported to the user. Bounds kept beyond
// the page's own structure:
// - breadcrumb categories after the tenth are not written to cells (they
//   would run into the picture column); they stay in the status text;
// - a picture whose file name is not a safe single file name (see
//   IsSafeFileName) or whose address leaves the picture server (another
//   scheme, host or port) is neither downloaded nor written; every file
//   written lies directly inside Images/;
// - a property for which the sheet has no column (header full) loses its
//   value; the walk goes on with the next property.
class ProductExtractor {
public:
    explicit ProductExtractor(const ScrapeContext& context);

    // productPageText: the decoded product page (not empty); productUrl: its
    // absolute address, catalogBaseUrl followed by the link from the listing.
    // Yields once to the event loop. Does not read or write StopRequested.
    // Returns false when the periodic save failed: the walk must end then.
    bool ParseProduct(const QString& productPageText, const QString& productUrl);

    // For a stored product whose picture fileName is missing from Images/:
    // finds the picture's address on the product page as ParseProduct does
    // and downloads it when it still has that name. Writes no cell and counts
    // nothing.
    void FetchMissingPicture(const QString& productPageText, const QString& fileName);

    // NewCount as it was at the last save that succeeded in this run: how
    // many of the new rows are really in the file.
    qint32 savedCount() const { return m_savedCount; }
    // Why the periodic save failed, once it has.
    const std::optional<Failure>& saveFailure() const { return m_saveFailure; }

    static inline const QString OrderNumberMarker = QStringLiteral("Tilausnumero</th>\n\t<td>");
    static inline const QString BreadcrumbMarker
        = QStringLiteral("<a href=\"/catalog/\">Tolmari</a>");
    static inline const QString PictureMarkerStart = QStringLiteral("<img src=\"");
    static inline const QString DescriptionMarker
        = QStringLiteral("Kuvaus</th>\n\t<td valign=\"top\">");
    static inline const QString PropertiesTableMarker
        = QStringLiteral("<table class=\"productproperties\">");
    static inline const QString PropertyNameMarker = QStringLiteral("<th width=\"30%\">");
    static inline const QString PropertyValueMarker = QStringLiteral("<td>");
    // Ends the order number, the description and a property's value.
    static inline const QString CellEndMarker = QStringLiteral("</td>");
    // Starts a product link in a product table: accessories on a product
    // page, products on a listing page.
    static inline const QString ProductLinkMarker
        = QStringLiteral("<td class=\"first\"><a href=\"");

    static constexpr qint32 SaveEveryProducts = 100;
    // The status while the workbook is saved. The doubled dash and "xls" are
    // the status line the users know; kept as it is.
    static inline const QString SavingStatus = QStringLiteral(" -  - сохранение xls...");
    static constexpr qint32 PictureMinimumSize = 256;
    static constexpr double PictureProgressInterval = 0.3;
    // Categories go to columns 4 to 13, the picture to column 14 (RowLayout).
    static constexpr int FirstCategoryColumn = RowLayout::FirstCategoryColumn;
    static constexpr int CategoryColumnCount = RowLayout::CategoryColumnCount;
    // A property value counts only when its "<td>" starts fewer than this many
    // characters after the position of the name's "</th>".
    static constexpr qint32 PropertyValueReach = 14;
    static inline const QString ImagesFolder = QStringLiteral("Images");

    // Where a picture of the given file name is kept: Images/ in programFolder.
    static QString PicturePath(const QDir& programFolder, const QString& fileName);

    // The start marker of the picture: PictureMarkerStart + imageBaseUrl.
    QString PictureMarker() const;

private:
    struct Walk;

    void writeOrderNumber(Walk& walk);
    void walkBreadcrumb(Walk& walk);
    void takePicture(Walk& walk);
    // The picture's download address, from the walk's position; empty when
    // the page shows none. endPos: the closing quote of the address.
    QString findPicture(Walk& walk, qint32& endPos) const;
    // Downloads the picture unless a file of its name is in Images/ already.
    void downloadPicture(
        const QString& address, const QString& fileName, const QString& categoryPath);
    void writeDescription(Walk& walk);
    void walkProperties(Walk& walk);
    static QString propertyValue(const Walk& walk, qint32 valueStart, ForwardSearch& valueEnds);
    void writeAccessories(Walk& walk);
    bool finishRow();

    ScrapeContext m_context;
    qint32 m_savedCount = 0;
    std::optional<Failure> m_saveFailure;
};

} // namespace zp
