#pragma once

#include "xlsx/MemoryBudget.h"
#include "xlsx/SharedStrings.h"
#include "xlsx/SheetIndex.h"
#include "xlsx/StyleSheet.h"
#include "xlsx/Worksheet.h"
#include "xlsx/XlsxPackage.h"

#include <QString>
#include <memory>
#include <string>

namespace zp {

// An .xlsx workbook reduced to its first worksheet (found through the
// workbook's relationships), the shared strings that sheet reads, and the
// styles that cells written get. Every other part of the
// package (other sheets, drawings, defined names, themes, properties) is kept
// as it is stored.
class Workbook {
public:
    // What the parts of an open workbook may hold in memory together: the
    // worksheet's text and index, the shared strings, the trees kept of the
    // styles, of the sheet outside its rows and of its links, and what a run
    // adds to them. A save needs little beyond it, and the rest of the
    // program less than 200 MB.
    static constexpr std::size_t MaxHeldBytes = 192u * 1024u * 1024u;

    ~Workbook();

    // Opens the .xlsx file at path; its sheet indexes the cells index holds
    // (see Worksheet). Fails when the file is not an .xlsx package the engine
    // can read (legacy .xls, damaged or hostile file, missing parts) or its
    // parts would hold more than heldBytes in memory together; the file is
    // not touched then.
    static Result<std::unique_ptr<Workbook>> open(
        const QString& path, SheetIndex index, std::size_t heldBytes = MaxHeldBytes);

    // A new workbook with one empty worksheet "Sheet1" whose columns are all
    // text-formatted (style textStyle()), indexing the cells index holds;
    // nothing is written before save().
    static Result<std::unique_ptr<Workbook>> create(const QString& path, SheetIndex index);

    Worksheet& sheet() { return *m_sheet; }
    const Worksheet& sheet() const { return *m_sheet; }
    StyleSheet& styles() { return m_styles; }

    // Saves the workbook over its file (atomically, see XlsxPackage::save).
    // Fails when the save failed; what is at the path then is told by
    // XlsxPackage::save, and the workbook can be saved again.
    Result<void> save();

    // Whether save() can succeed (see XlsxPackage::trySave); the workbook's
    // own changes are not part of the trial.
    XlsxPackage::SaveTrial trySave() { return m_package->trySave(); }

    QString filePath() const { return m_package->path(); }

    // What is left of the memory the workbook may hold; writes take from it.
    MemoryBudget& budget() { return m_budget; }

private:
    Workbook(std::size_t heldBytes, SheetIndex index);
    Result<void> load();
    Result<void> findParts(std::string& sharedStringsPart);
    Result<void> loadStyles();
    Result<void> loadSheet();
    Result<void> ensureRelationshipContentType();

    MemoryBudget m_budget;
    SheetIndex m_index;
    std::unique_ptr<XlsxPackage> m_package;
    SharedStrings m_strings;
    StyleSheet m_styles;
    std::unique_ptr<Worksheet> m_sheet;
    std::string m_sheetPart;
    std::string m_sheetRelationshipsPart;
    std::string m_stylesPart;
};

} // namespace zp
