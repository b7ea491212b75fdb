#include "xlsx/StyleSheet.h"

#include "xlsx/OoxmlNamespaces.h"
#include "xlsx/XmlTree.h"

#include <cstring>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

const std::initializer_list<std::string_view> styleOrder = { "numFmts", "fonts", "fills", "borders",
    "cellStyleXfs", "cellXfs", "cellStyles", "dxfs", "tableStyles", "colors", "extLst" };

std::vector<pugi::xml_node> elementChildren(const pugi::xml_node& parent, std::string_view name)
{
    std::vector<pugi::xml_node> result;
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && XmlTree::localName(node) == name)
            result.push_back(node);
    }
    return result;
}

void setCount(pugi::xml_node section, std::string_view itemName)
{
    const auto items = elementChildren(section, itemName);
    pugi::xml_attribute count = section.attribute("count");
    if (!count)
        count = section.append_attribute("count");
    count.set_value(static_cast<unsigned>(items.size()));
}

} // namespace

std::string StyleSheet::newWorkbookXml()
{
    return std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                       "\n"
                       R"(<styleSheet xmlns=")")
        + OoxmlNamespaces::Main
        + R"(">)"
          R"(<fonts count="1"><font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/>)"
          R"(<scheme val="minor"/></font></fonts>)"
          R"(<fills count="2"><fill><patternFill patternType="none"/></fill>)"
          R"(<fill><patternFill patternType="gray125"/></fill></fills>)"
          R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
          R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
          R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"
          R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
          R"(<dxfs count="0"/><tableStyles count="0" defaultTableStyle="TableStyleMedium2" )"
          R"(defaultPivotStyle="PivotStyleLight16"/></styleSheet>)";
}

Result<void> StyleSheet::load(const std::string& xml, MemoryBudget& budget)
{
    const pugi::xml_parse_result result = XmlTree::load(m_document, xml, budget);
    if (!result)
        return XmlTree::failureOf(result, u"styles"_s);
    if (XmlTree::localName(m_document.document_element()) != "styleSheet")
        return Failure { Failure::Kind::Damaged, u"styles: not a style sheet"_s };
    m_dirty = false;
    return {};
}

std::string StyleSheet::serialize() const
{
    return XmlTree::print(m_document);
}

pugi::xml_node StyleSheet::ensureSection(const char* name)
{
    return XmlTree::ensureChild(m_document.document_element(), name, styleOrder);
}

int StyleSheet::findOrAppendXf(int numFmtId, int fillId)
{
    pugi::xml_node xfs = ensureSection("cellXfs");
    const auto items = elementChildren(xfs, "xf");
    for (std::size_t i = 0; i < items.size(); ++i) {
        const pugi::xml_node xf = items[i];
        if (xf.attribute("numFmtId").as_int(0) == numFmtId
            && xf.attribute("fillId").as_int(0) == fillId && xf.attribute("fontId").as_int(0) == 0
            && xf.attribute("borderId").as_int(0) == 0 && xf.attribute("xfId").as_int(0) == 0
            && !xf.first_child())
            return static_cast<int>(i);
    }
    if (items.empty()) {
        // Format 0 is what cells without s= use; keep it General.
        pugi::xml_node general = XmlTree::appendElement(xfs, "xf");
        for (const char* name : { "numFmtId", "fontId", "fillId", "borderId", "xfId" })
            general.append_attribute(name).set_value(0);
    }
    pugi::xml_node xf = XmlTree::appendElement(xfs, "xf");
    xf.append_attribute("numFmtId").set_value(numFmtId);
    xf.append_attribute("fontId").set_value(0);
    xf.append_attribute("fillId").set_value(fillId);
    xf.append_attribute("borderId").set_value(0);
    xf.append_attribute("xfId").set_value(0);
    if (fillId != 0)
        xf.append_attribute("applyFill").set_value(1);
    xf.append_attribute("applyNumberFormat").set_value(1);
    setCount(xfs, "xf");
    m_dirty = true;
    return static_cast<int>(elementChildren(xfs, "xf").size()) - 1;
}

int StyleSheet::textStyle()
{
    if (!isLoaded())
        return -1;
    return findOrAppendXf(TextNumberFormat, 0);
}

int StyleSheet::textFillStyle(const char* rgb)
{
    if (!isLoaded())
        return -1;
    pugi::xml_node fills = ensureSection("fills");
    auto items = elementChildren(fills, "fill");
    int fillId = -1;
    for (std::size_t i = 2; i < items.size(); ++i) {
        const pugi::xml_node pattern = XmlTree::child(items[i], "patternFill");
        const pugi::xml_node colour = XmlTree::child(pattern, "fgColor");
        if (std::strcmp(pattern.attribute("patternType").value(), "solid") == 0
            && std::strcmp(colour.attribute("rgb").value(), rgb) == 0) {
            fillId = static_cast<int>(i);
            break;
        }
    }
    if (fillId < 0) {
        // Fills 0 and 1 are reserved (none, gray125) whatever they say.
        static constexpr const char* reserved[] = { "none", "gray125" };
        for (std::size_t i = items.size(); i < 2; ++i) {
            pugi::xml_node fill = XmlTree::appendElement(fills, "fill");
            XmlTree::appendElement(fill, "patternFill")
                .append_attribute("patternType")
                .set_value(reserved[i]);
        }
        pugi::xml_node fill = XmlTree::appendElement(fills, "fill");
        pugi::xml_node pattern = XmlTree::appendElement(fill, "patternFill");
        pattern.append_attribute("patternType").set_value("solid");
        XmlTree::appendElement(pattern, "fgColor").append_attribute("rgb").set_value(rgb);
        XmlTree::appendElement(pattern, "bgColor").append_attribute("indexed").set_value(64);
        setCount(fills, "fill");
        fillId = static_cast<int>(elementChildren(fills, "fill").size()) - 1;
        m_dirty = true;
    }
    return findOrAppendXf(TextNumberFormat, fillId);
}

} // namespace zp
