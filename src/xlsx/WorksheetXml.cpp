#include "xlsx/WorksheetXml.h"

#include "xlsx/CellText.h"
#include "xlsx/SharedStrings.h"

#include <charconv>

using namespace Qt::Literals::StringLiterals;

namespace zp::WorksheetXml {

const std::initializer_list<std::string_view> ChildOrder = { "sheetPr", "dimension", "sheetViews",
    "sheetFormatPr", "cols", "sheetData", "sheetCalcPr", "sheetProtection", "protectedRanges",
    "scenarios", "autoFilter", "sortState", "dataConsolidate", "customSheetViews", "mergeCells",
    "phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions",
    "pageMargins", "pageSetup", "headerFooter", "rowBreaks", "colBreaks", "customProperties",
    "cellWatches", "ignoredErrors", "smartTags", "drawing", "legacyDrawing", "legacyDrawingHF",
    "drawingHF", "picture", "oleObjects", "controls", "webPublishItems", "tableParts", "extLst" };

int parseInt(std::string_view text, int fallback)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

QString resolveText(std::string_view type, std::string_view value, std::string_view inlineText,
    const SharedStrings& strings)
{
    if (type == "s")
        return strings.text(parseInt(value, -1));
    if (type == "inlineStr")
        return CellText::fromXml(inlineText);
    if (type == "str")
        return CellText::fromXml(value);
    if (type == "b")
        return value == "1" || value == "true" ? u"TRUE"_s : u"FALSE"_s;
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

void appendAttributeValue(std::string& out, std::string_view value)
{
    for (const char ch : value) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += ch;
        }
    }
}

} // namespace zp::WorksheetXml
