#pragma once

#include "util/Result.h"

#include <QString>
#include <pugixml.hpp>
#include <string>

namespace zp {

class MemoryBudget;

// The workbook's styles part, kept as a tree. Only appends what the engine
// needs (a text-formatted cell style, a filled one) and leaves every style
// the user made where it is, so existing s= indexes stay valid.
class StyleSheet {
public:
    // Excel's built-in number format "@" (text).
    static constexpr int TextNumberFormat = 49;

    // Reads styles.xml. Returns false with *error set when it is malformed.
    Result<void> load(const std::string& xml, MemoryBudget& budget);

    // The styles of a new workbook: default font, the two reserved fills,
    // one border, and cell style 0 (General).
    static std::string newWorkbookXml();

    // False until load() succeeded; the style calls then return -1.
    bool isLoaded() const { return bool(m_document.document_element()); }

    // Index of a cell format with the text number format and nothing else,
    // appended when the styles have none.
    int textStyle();

    // Index of a text-formatted cell format with a solid fill of colour rgb
    // ("FF99CC00", ARGB); the fill is appended after the existing ones
    // (never among the two reserved ones) when not there yet.
    int textFillStyle(const char* rgb);

    bool isDirty() const { return m_dirty; }
    std::string serialize() const;
    void markSaved() { m_dirty = false; }

private:
    pugi::xml_node ensureSection(const char* name);
    int findOrAppendXf(int numFmtId, int fillId);

    pugi::xml_document m_document;
    bool m_dirty = false;
};

} // namespace zp
