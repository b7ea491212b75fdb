#pragma once

#include <QString>

namespace zp {

// The folder that holds the workbook and its Images folder:
//  - requested, when given (--folder), taken relative to the current folder;
//  - otherwise programFolder, when it holds the workbook (any name
//    CatalogWorkbookFile opens), whether the program may write there or not;
//  - otherwise programFolder, when the program may write there and is not an
//    installed program (../share/applications holds its desktop file), so
//    that a copied program keeps its files beside it;
//  - otherwise the user's documents folder followed by "/Zavrinello", so that
//    an installed program (in /usr/bin) writes where its user can, and root
//    does not write into /usr/bin.
// The folder chosen is created when missing. Returns an absolute path.
QString ChooseWorkFolder(const QString& requested, const QString& programFolder);

} // namespace zp
