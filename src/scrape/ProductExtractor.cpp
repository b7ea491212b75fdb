#include "scrape/ProductExtractor.h"

#include "scrape/RowPictures.h"
#include "util/ElapsedTime.h"
#include "util/HtmlParser.h"
#include "util/PathUtils.h"
#include "util/SameOrigin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// A cell keeps CatalogSheet::MaxCellLength characters; copying more of a
// field than that (and one more, which the cut looks at) would only cost
// memory.
constexpr qint32 CellReach = CatalogSheet::MaxCellLength + 1;

} // namespace

// The locals of one ParseProduct call. Positions are 1-based; 0 counts as 1.
struct ProductExtractor::Walk {
    Walk(const QString& pageText, const QString& productUrl, int rowNumber)
        : page(pageText)
        , url(productUrl)
        , row(rowNumber)
    {
    }

    const QString& page;
    const QString& url;
    const int row; // 0: nothing is written, the page is only read
    qint32 pos = 0;
    QString orderNumber;
    QString categoryPath;
};

ProductExtractor::ProductExtractor(const ScrapeContext& context)
    : m_context(context)
{
}

QString ProductExtractor::PictureMarker() const
{
    return PictureMarkerStart + m_context.imageBaseUrl;
}

bool ProductExtractor::ParseProduct(const QString& productPageText, const QString& productUrl)
{
    Walk walk(productPageText, productUrl, m_context.state.NextRow);

    writeOrderNumber(walk);
    walkBreadcrumb(walk);
    takePicture(walk);
    m_context.view.setStatusText(walk.categoryPath + walk.orderNumber + u"..."_s);
    writeDescription(walk);

    walk.pos = FindFrom(walk.page, PropertiesTableMarker, walk.pos);
    if (walk.pos != 0) {
        walkProperties(walk);
        writeAccessories(walk);
    }

    QCoreApplication::processEvents();
    return finishRow();
}

void ProductExtractor::writeOrderNumber(Walk& walk)
{
    qint32 endPos = 0;
    qint32 startPos = 0;
    walk.orderNumber
        = ExtractBetween(walk.page, OrderNumberMarker, CellEndMarker, 1, endPos, startPos);
    // Without an order number the cell shows the page's address: a link on
    // an empty text cell does not survive a save in LibreOffice, and without
    // it later runs would not know the product and write it again.
    const QString shown = walk.orderNumber.isEmpty() ? walk.url : walk.orderNumber;
    if (!m_context.sheet.writeCell(walk.row, RowLayout::OrderNumberColumn, shown))
        return;
    m_context.sheet.linkCell(walk.row, RowLayout::OrderNumberColumn, walk.url);
}

// The picture search below starts at the position this walk leaves behind,
// although that position counts characters of the breadcrumb block, not of
// the page: the picture is looked for from near the top of the page.
void ProductExtractor::walkBreadcrumb(Walk& walk)
{
    qint32 endPos = 0;
    qint32 startPos = 0;
    const QString block
        = ExtractBetween(walk.page, BreadcrumbMarker, u"</div>"_s, 1, endPos, startPos);
    if (block.isEmpty())
        return;

    int counter = 1;
    walk.pos = 1;
    for (;;) {
        const QString link
            = ExtractBetween(block, u"<a href=\""_s, u"\""_s, walk.pos, endPos, startPos);
        if (link.isEmpty())
            return;
        walk.pos = endPos;

        const QString name = ExtractBetween(block, u">"_s, u"<"_s, walk.pos, endPos, startPos);
        if (!name.isEmpty()) {
            const bool hasColumn = walk.row > 0 && counter <= CategoryColumnCount;
            const int column = FirstCategoryColumn + counter - 1;
            if (hasColumn && !m_context.sheet.writeCell(walk.row, column, name))
                return;
            walk.categoryPath += name + u'/';
            if (hasColumn
                && !m_context.sheet.linkCell(walk.row, column, m_context.catalogBaseUrl + link))
                return;
            ++counter;
        }
        walk.pos = endPos;
        if (name.isEmpty())
            return;
    }
}

QString ProductExtractor::findPicture(Walk& walk, qint32& endPos) const
{
    qint32 startPos = 0;
    const QString found
        = ExtractBetween(walk.page, PictureMarker(), u"\""_s, walk.pos, endPos, startPos);
    return found.isEmpty() ? QString() : m_context.imageBaseUrl + found;
}

QString ProductExtractor::PicturePath(const QDir& programFolder, const QString& fileName)
{
    return programFolder.filePath(ImagesFolder + u'/' + fileName);
}

void ProductExtractor::downloadPicture(
    const QString& address, const QString& fileName, const QString& categoryPath)
{
    const QString localPath = PicturePath(QDir(m_context.programFolder), fileName);
    // A name on its way is handed over again: the downloader tries this
    // address should the earlier one fail.
    if (QFileInfo(localPath).isFile())
        return;
    m_context.view.setStatusText(categoryPath + fileName + u"..."_s);
    if (!m_context.downloader.DownloadInBackground(
            address, localPath, PictureMinimumSize, PictureProgressInterval)) {
        m_context.state.countMissingPicture(m_context.downloader.lastFailureMayPass());
        m_context.view.warnNotLoaded(address, m_context.downloader.lastFailure());
    }
}

void ProductExtractor::FetchMissingPicture(const QString& productPageText, const QString& fileName)
{
    const QString noUrl;
    Walk walk(productPageText, noUrl, 0);
    walkBreadcrumb(walk);
    qint32 endPos = 0;
    const QString address = findPicture(walk, endPos);
    if (!address.isEmpty() && PictureFileName(address) == fileName && IsSafeFileName(fileName)
        && IsSameOrigin(address, m_context.imageBaseUrl))
        downloadPicture(address, fileName, walk.categoryPath);
}

void ProductExtractor::takePicture(Walk& walk)
{
    qint32 endPos = 0;
    const QString address = findPicture(walk, endPos);
    if (address.isEmpty())
        return;

    const QString fileName = PictureFileName(address);
    if (IsSafeFileName(fileName) && IsSameOrigin(address, m_context.imageBaseUrl)) {
        const QString relativePath = ImagesFolder + u'/' + fileName;
        downloadPicture(address, fileName, walk.categoryPath);
        const int column = RowLayout::PictureColumn;
        if (!m_context.sheet.writeCell(walk.row, column, fileName))
            return;
        if (!m_context.sheet.linkCell(walk.row, column, relativePath))
            return;
    } else {
        m_context.state.countMissingPicture(false);
        m_context.view.warnNotLoaded(address, u"недопустимое имя файла"_s);
    }
    walk.pos = endPos;
}

void ProductExtractor::writeDescription(Walk& walk)
{
    qint32 endPos = 0;
    qint32 startPos = 0;
    const QString description = ExtractBetween(
        walk.page, DescriptionMarker, CellEndMarker, walk.pos, endPos, startPos, CellReach);
    m_context.sheet.writeCell(walk.row, RowLayout::DescriptionColumn, description);
}

// Every name cell from the table's start to the end of the page is taken,
// also behind the end of the properties table. The value markers are looked
// for with forward searches: a page of many names without values costs one
// reading of the page, not one per name.
void ProductExtractor::walkProperties(Walk& walk)
{
    ForwardSearch valueStarts(walk.page, PropertyValueMarker);
    ForwardSearch valueEnds(walk.page, CellEndMarker);
    for (;;) {
        qint32 nameEnd = 0;
        qint32 nameStart = 0;
        const QString name = ExtractBetween(
            walk.page, PropertyNameMarker, u"</th>"_s, walk.pos, nameEnd, nameStart);
        if (name.isEmpty())
            return;

        const int column = m_context.sheet.propertyColumn(name);

        // No "<td>" at all (valueStart 0) passes the test and writes the empty value.
        const qint32 valueStart = valueStarts.next(nameEnd);
        if (column > 0 && valueStart - nameEnd < PropertyValueReach) {
            if (!m_context.sheet.writeCell(
                    walk.row, column, propertyValue(walk, valueStart, valueEnds)))
                return;
        }
        walk.pos = nameEnd;
    }
}

// The text between the "<td>" at valueStart and the next "</td>"; empty when
// there is no "<td>" or no "</td>" behind it.
QString ProductExtractor::propertyValue(
    const Walk& walk, qint32 valueStart, ForwardSearch& valueEnds)
{
    if (valueStart == 0)
        return {};
    const qint32 textStart = valueStart + qint32(PropertyValueMarker.size());
    const qint32 valueEnd = valueEnds.next(textStart);
    if (valueEnd == 0)
        return {};
    return walk.page.mid(textStart - 1, std::min(valueEnd - textStart, CellReach));
}

void ProductExtractor::writeAccessories(Walk& walk)
{
    QString accessories;
    for (;;) {
        qint32 endPos = 0;
        qint32 startPos = 0;
        const QString link
            = ExtractBetween(walk.page, ProductLinkMarker, u"\""_s, walk.pos, endPos, startPos);
        if (link.isEmpty())
            break;
        walk.pos = endPos;
        const QString name = ExtractBetween(walk.page, u">"_s, u"<"_s, walk.pos, endPos, startPos);
        if (!name.isEmpty()) {
            if (!accessories.isEmpty())
                accessories += u", "_s;
            accessories += name;
        }
    }
    if (!accessories.isEmpty())
        m_context.sheet.writeCell(walk.row, RowLayout::AccessoriesColumn, accessories);
}

bool ProductExtractor::finishRow()
{
    RunState& state = m_context.state;
    ++state.NewCount;
    ++state.NextRow;
    m_context.view.setElapsedText(FormatElapsed(state.StartTime, m_context.clock.now()));
    m_context.view.setCounterText(QString::number(LeadingNumber(m_context.view.counterText()) + 1));
    if (state.NewCount % SaveEveryProducts == 0) {
        m_context.view.setStatusText(SavingStatus);
        SettleRowPictures(m_context, state.NewCount - m_savedCount);
        if (Result<void> saved = m_context.sheet.save(); !saved) {
            m_saveFailure = std::move(saved).failure();
            return false;
        }
        m_savedCount = state.NewCount;
    }
    return true;
}

} // namespace zp
