#pragma once

#include "util/StopFlag.h"

#include <QDateTime>

namespace zp {

// State of the current run, owned by the window (or the headless runner) and
// handed to the run controller, the crawler and the product extraction.
// Every field keeps its value after a run until the next run overwrites it.
struct RunState {
    bool IsRunning = false;
    QDateTime StartTime;
    qint32 NewCount = 0; // new products written in this run
    qint32 NextRow = 0; // worksheet row of the next new product
    qint32 FixedColumnCount = 0; // 14 once the workbook is ready (catalog/RowLayout.h)
    StopFlag StopRequested; // the user asked the run to stop

    // What the run could not have; the next run tries it again.
    qint32 MissingPictures = 0; // pictures not downloaded or refused for their name
    qint32 PassingPictureFaults = 0; // of those, lost to faults that may pass (5xx, time-out)
    qint32 SkippedProducts = 0; // product pages given up without stopping the run

    void countMissingPicture(bool mayPass)
    {
        ++MissingPictures;
        if (mayPass)
            ++PassingPictureFaults;
    }
};

} // namespace zp
