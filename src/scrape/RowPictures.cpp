#include "scrape/RowPictures.h"

#include "scrape/ProductExtractor.h"
#include "util/ElapsedTime.h"

#include <QDir>

namespace zp {

namespace {

// The first of the rows from firstRow up to NextRow - 1 whose picture the
// last wait gave up; 0 when there is none.
int firstAbandonedRow(const ScrapeContext& context, int firstRow)
{
    const QDir folder(context.programFolder);
    for (int row = firstRow; row < context.state.NextRow; ++row) {
        const QString picture = context.sheet.cellText(row, RowLayout::PictureColumn);
        if (!picture.isEmpty()
            && context.downloader.wasAbandoned(ProductExtractor::PicturePath(folder, picture)))
            return row;
    }
    return 0;
}

} // namespace

void SettleRowPictures(const ScrapeContext& context, qint32 unsavedRows)
{
    context.downloader.waitForBackground();
    context.downloader.flushDownloaded();
    RunState& state = context.state;
    const int row = firstAbandonedRow(context, state.NextRow - unsavedRows);
    if (row == 0)
        return;
    const qint32 discarded = state.NextRow - row;
    context.sheet.discardRowsFrom(row);
    state.NextRow = row;
    state.NewCount -= discarded;
    context.view.setStatusText(ProductExtractor::SavingStatus);
    context.view.setCounterText(
        QString::number(LeadingNumber(context.view.counterText()) - discarded));
}

} // namespace zp
