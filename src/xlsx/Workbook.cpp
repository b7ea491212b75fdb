#include "xlsx/Workbook.h"

#include "xlsx/CellAddress.h"
#include "xlsx/OoxmlNamespaces.h"
#include "xlsx/XmlTree.h"

#include <QFileInfo>
#include <cstring>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

struct Relationship {
    std::string id;
    std::string type;
    std::string target; // resolved part name
};

std::string directoryOf(std::string_view part)
{
    const auto slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash));
}

std::string relationshipsPartOf(std::string_view part)
{
    const auto slash = part.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? part : part.substr(slash + 1);
    const std::string directory = directoryOf(part);
    return (directory.empty() ? std::string() : directory + "/") + "_rels/" + std::string(name)
        + ".rels";
}

// The part name a relationship target points to, from the folder of the part
// that holds the relationship; empty when it leaves the package.
std::string resolveTarget(std::string_view baseDirectory, std::string_view target)
{
    std::vector<std::string> segments;
    auto push = [&segments](std::string_view path) {
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            const std::string_view segment = path.substr(start, end - start);
            if (segment == "..") {
                if (segments.empty())
                    return false;
                segments.pop_back();
            } else if (!segment.empty() && segment != ".") {
                segments.emplace_back(segment);
            }
            start = end + 1;
        }
        return true;
    };
    if (target.empty() || (!target.starts_with('/') && !push(baseDirectory)) || !push(target))
        return {};
    std::string part;
    for (const std::string& segment : segments)
        part += (part.empty() ? "" : "/") + segment;
    return part;
}

bool typeIs(std::string_view type, std::string_view suffix)
{
    return type.ends_with(suffix);
}

// Reads a part that is parsed, used and dropped, as long as it fits in budget
// with the tree it makes.
Result<void> readTree(const XlsxPackage& package, std::string_view part,
    pugi::xml_document& document, MemoryBudget budget)
{
    Result<std::string> xml = package.read(part, budget.left());
    if (!xml)
        return std::move(xml).failure();
    if (const pugi::xml_parse_result parsed = XmlTree::load(document, *xml, budget); !parsed)
        return XmlTree::failureOf(parsed, QString::fromUtf8(part));
    return {};
}

Result<std::vector<Relationship>> readRelationships(
    const XlsxPackage& package, std::string_view ofPart, const MemoryBudget& budget)
{
    std::vector<Relationship> result;
    const std::string relsPart = relationshipsPartOf(ofPart);
    if (!package.contains(relsPart))
        return result;
    pugi::xml_document document;
    if (Result<void> read = readTree(package, relsPart, document, budget); !read)
        return std::move(read).failure();
    const std::string base = directoryOf(ofPart);
    for (pugi::xml_node rel = document.document_element().first_child(); rel;
         rel = rel.next_sibling()) {
        if (rel.type() != pugi::node_element || XmlTree::localName(rel) != "Relationship")
            continue;
        if (std::strcmp(rel.attribute("TargetMode").value(), "External") == 0)
            continue;
        result.push_back(Relationship { rel.attribute("Id").value(), rel.attribute("Type").value(),
            resolveTarget(base, rel.attribute("Target").value()) });
    }
    return result;
}

// The workbook part named by the package's own relationships.
Result<std::string> findWorkbookPart(const XlsxPackage& package, const MemoryBudget& budget)
{
    auto rootRelationships = readRelationships(package, "", budget);
    if (!rootRelationships)
        return std::move(rootRelationships).failure();
    std::string workbookPart;
    for (const Relationship& rel : *rootRelationships) {
        if (typeIs(rel.type, "/officeDocument"))
            workbookPart = rel.target;
    }
    if (workbookPart.empty() || !package.contains(workbookPart))
        return Failure { Failure::Kind::Damaged, u"not an .xlsx workbook (no workbook part)"_s };
    return workbookPart;
}

// The part of the first worksheet listed in the workbook; empty when none.
std::string firstSheetPart(
    const pugi::xml_document& workbook, const std::vector<Relationship>& relationships)
{
    const pugi::xml_node sheets = XmlTree::child(workbook.document_element(), "sheets");
    for (pugi::xml_node sheet = sheets.first_child(); sheet; sheet = sheet.next_sibling()) {
        if (sheet.type() != pugi::node_element)
            continue;
        std::string id;
        for (pugi::xml_attribute attribute = sheet.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            if (std::string_view(attribute.name()).ends_with(":id"))
                id = attribute.value();
        }
        std::string part;
        for (const Relationship& rel : relationships) {
            if (rel.id == id && typeIs(rel.type, "/worksheet"))
                part = rel.target;
        }
        if (!part.empty())
            return part;
    }
    return {};
}

const std::string XmlDeclaration
    = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string newContentTypesXml()
{
    return XmlDeclaration
        + R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
          R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
          R"(<Default Extension="xml" ContentType="application/xml"/>)"
          R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
          R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
          R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
          R"(</Types>)";
}

std::string relationshipsXml(std::string_view relationships)
{
    return XmlDeclaration + "<Relationships xmlns=\"" + OoxmlNamespaces::PackageRelationships
        + "\">" + std::string(relationships) + "</Relationships>";
}

std::string newPackageRelationshipsXml()
{
    return relationshipsXml(
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)");
}

std::string newWorkbookXml()
{
    return XmlDeclaration + "<workbook xmlns=\"" + OoxmlNamespaces::Main + "\" xmlns:r=\""
        + OoxmlNamespaces::Relationships
        + "\">"
          R"(<bookViews><workbookView/></bookViews>)"
          R"(<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>)";
}

std::string newWorkbookRelationshipsXml()
{
    return relationshipsXml(
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)");
}

// An empty sheet with every column text-formatted, so that cells typed later
// by hand are text too; a <col> without a width makes Excel repair the file.
std::string newSheetXml(int textStyle)
{
    return XmlDeclaration + "<worksheet xmlns=\"" + OoxmlNamespaces::Main + "\" xmlns:r=\""
        + OoxmlNamespaces::Relationships
        + "\">"
          R"(<dimension ref="A1"/><sheetViews><sheetView workbookViewId="0"/></sheetViews>)"
          R"(<sheetFormatPr defaultRowHeight="15"/>)"
          R"(<cols><col min="1" max=")"
        + std::to_string(CellAddress::MaxColumn) + R"(" width="9.140625" style=")"
        + std::to_string(textStyle)
        + R"("/></cols>)"
          R"(<sheetData/>)"
          R"(<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>)"
          R"(</worksheet>)";
}

// Writes the parts of a workbook with one empty sheet; scratch bounds the
// styles read on the way.
Result<void> writeNewWorkbook(XlsxPackage& package, MemoryBudget scratch)
{
    package.write("[Content_Types].xml", newContentTypesXml());
    package.write("_rels/.rels", newPackageRelationshipsXml());
    package.write("xl/workbook.xml", newWorkbookXml());
    package.write("xl/_rels/workbook.xml.rels", newWorkbookRelationshipsXml());
    StyleSheet styles;
    if (Result<void> loaded = styles.load(StyleSheet::newWorkbookXml(), scratch); !loaded)
        return loaded;
    const int textStyle = styles.textStyle(); // adds the style the sheet's columns name
    package.write("xl/styles.xml", styles.serialize());
    package.write("xl/worksheets/sheet1.xml", newSheetXml(textStyle));
    return {};
}

} // namespace

Workbook::Workbook(std::size_t heldBytes, SheetIndex index)
    : m_budget(heldBytes)
    , m_index(index)
{
}

Workbook::~Workbook() = default;

Result<std::unique_ptr<Workbook>> Workbook::open(
    const QString& path, SheetIndex index, std::size_t heldBytes)
{
    if (!QFileInfo(path).isFile())
        return Failure { Failure::Kind::NotFound, u"no such file: "_s + path };
    Result<std::unique_ptr<XlsxPackage>> package = XlsxPackage::open(path);
    if (!package)
        return std::move(package).failure();
    std::unique_ptr<Workbook> workbook(new Workbook(heldBytes, index));
    workbook->m_package = std::move(package).value();
    if (Result<void> loaded = workbook->load(); !loaded)
        return std::move(loaded).failure();
    return workbook;
}

Result<std::unique_ptr<Workbook>> Workbook::create(const QString& path, SheetIndex index)
{
    std::unique_ptr<Workbook> workbook(new Workbook(MaxHeldBytes, index));
    workbook->m_package = XlsxPackage::create(path);
    if (Result<void> written = writeNewWorkbook(*workbook->m_package, workbook->m_budget); !written)
        return std::move(written).failure();
    if (Result<void> loaded = workbook->load(); !loaded)
        return std::move(loaded).failure();
    return workbook;
}

Result<void> Workbook::load()
{
    std::string sharedStringsPart;
    if (Result<void> found = findParts(sharedStringsPart); !found)
        return found;
    if (Result<void> styles = loadStyles(); !styles)
        return styles;
    if (!sharedStringsPart.empty() && m_package->contains(sharedStringsPart)) {
        if (Result<void> strings = m_strings.load(*m_package, sharedStringsPart, m_budget);
            !strings)
            return strings;
    }
    return loadSheet();
}

// Finds the parts the engine reads through the relationships: the workbook,
// its first worksheet, the styles and the shared strings.
Result<void> Workbook::findParts(std::string& sharedStringsPart)
{
    // The workbook part and the relationships are dropped before anything
    // else is read: each may use the whole budget while it is read.
    Result<std::string> workbookPart = findWorkbookPart(*m_package, m_budget);
    if (!workbookPart)
        return std::move(workbookPart).failure();
    pugi::xml_document workbookDocument;
    if (const Result<void> read = readTree(*m_package, *workbookPart, workbookDocument, m_budget);
        !read)
        return read;
    if (XmlTree::localName(workbookDocument.document_element()) != "workbook")
        return Failure { Failure::Kind::Damaged, u"malformed workbook part"_s };
    auto relationships = readRelationships(*m_package, *workbookPart, m_budget);
    if (!relationships)
        return std::move(relationships).failure();

    for (const Relationship& rel : *relationships) {
        if (typeIs(rel.type, "/styles"))
            m_stylesPart = rel.target;
        else if (typeIs(rel.type, "/sharedStrings"))
            sharedStringsPart = rel.target;
    }
    m_sheetPart = firstSheetPart(workbookDocument, *relationships);
    if (m_sheetPart.empty() || !m_package->contains(m_sheetPart))
        return Failure { Failure::Kind::Damaged, u"the workbook has no worksheet"_s };
    m_sheetRelationshipsPart = relationshipsPartOf(m_sheetPart);
    return {};
}

Result<void> Workbook::loadStyles()
{
    if (m_stylesPart.empty() || !m_package->contains(m_stylesPart))
        return {};
    Result<std::string> stylesXml = m_package->read(m_stylesPart, m_budget.left());
    if (!stylesXml)
        return std::move(stylesXml).failure();
    return m_styles.load(*stylesXml, m_budget);
}

Result<void> Workbook::loadSheet()
{
    Result<std::string> sheetXml = m_package->read(m_sheetPart, m_budget.left());
    if (!sheetXml)
        return std::move(sheetXml).failure();
    if (!m_budget.take(sheetXml->capacity()))
        return Failure { Failure::Kind::TooLarge, u"worksheet: too large"_s };
    std::optional<std::string> sheetRels;
    if (m_package->contains(m_sheetRelationshipsPart)) {
        Result<std::string> rels = m_package->read(m_sheetRelationshipsPart, m_budget.left());
        if (!rels)
            return std::move(rels).failure();
        sheetRels = std::move(rels).value();
    }
    Result<std::unique_ptr<Worksheet>> sheet
        = Worksheet::load(std::make_shared<const std::string>(std::move(sheetXml).value()),
            std::move(sheetRels), m_strings, m_styles, m_budget, m_index);
    if (!sheet)
        return std::move(sheet).failure();
    m_sheet = std::move(sheet).value();
    return {};
}

Result<void> Workbook::ensureRelationshipContentType()
{
    pugi::xml_document document;
    if (const Result<void> read = readTree(*m_package, "[Content_Types].xml", document, m_budget);
        !read)
        return read;
    pugi::xml_node types = document.document_element();
    for (pugi::xml_node node = types.first_child(); node; node = node.next_sibling()) {
        if (XmlTree::localName(node) == "Default"
            && QString::fromUtf8(node.attribute("Extension").value())
                    .compare(u"rels"_s, Qt::CaseInsensitive)
                == 0)
            return {};
    }
    pugi::xml_node rels = types.prepend_child((XmlTree::prefix(types) + "Default").c_str());
    rels.append_attribute("Extension").set_value("rels");
    rels.append_attribute("ContentType")
        .set_value("application/vnd.openxmlformats-package.relationships+xml");
    m_package->write("[Content_Types].xml", XmlTree::print(document));
    return {};
}

Result<void> Workbook::save()
{
    if (m_sheet->isDirty() || !QFileInfo::exists(m_package->path())) {
        m_package->write(m_sheetPart, m_sheet->serialize());
        if (std::optional<std::string> rels = m_sheet->serializeRelationships()) {
            if (!m_package->contains(m_sheetRelationshipsPart)) {
                if (Result<void> added = ensureRelationshipContentType(); !added)
                    return added;
            }
            m_package->write(m_sheetRelationshipsPart, std::move(*rels));
        }
    }
    if (m_styles.isDirty())
        m_package->write(m_stylesPart, m_styles.serialize());
    if (Result<void> saved = m_package->save(); !saved)
        return saved;
    m_sheet->committed();
    m_styles.markSaved();
    return {};
}

} // namespace zp
