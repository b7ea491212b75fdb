#pragma once

#include "scrape/ScrapeContext.h"

namespace zp {

// Call before a save. Waits until the pictures of the rows written since the
// last save are over and on disk to stay, so that no saved row names a
// picture still on its way (a later run takes a saved product as stored).
// When a stop cut that wait short, the first of those rows whose picture it
// gave up and every row after it are left out of the sheet and taken back
// from NextRow, NewCount and the counter label: the save holds only rows
// whose pictures are on disk or failed for good, and the next run writes the
// others again. unsavedRows: how many rows, ending at NextRow - 1, were
// written since the last save.
void SettleRowPictures(const ScrapeContext& context, qint32 unsavedRows);

} // namespace zp
