#include "xlsx/SheetHyperlinks.h"

#include "xlsx/CellAddress.h"
#include "xlsx/WorksheetXml.h"
#include "xlsx/XmlTree.h"

#include <algorithm>
#include <cstring>

namespace zp {

namespace {

constexpr const char* RelationshipNamespace
    = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* HyperlinkType
    = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";
// Strict Open XML names the same things in namespaces of its own; a Strict
// sheet gets its links in them, or readers would not see the links.
constexpr const char* StrictMainNamespace = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr const char* StrictRelationshipNamespace
    = "http://purl.oclc.org/ooxml/officeDocument/relationships";
constexpr const char* StrictHyperlinkType
    = "http://purl.oclc.org/ooxml/officeDocument/relationships/hyperlink";

bool isStrict(const pugi::xml_node& root)
{
    const std::string prefix = XmlTree::prefix(root);
    const std::string declaration
        = prefix.empty() ? "xmlns" : "xmlns:" + prefix.substr(0, prefix.size() - 1);
    return std::strcmp(root.attribute(declaration.c_str()).value(), StrictMainNamespace) == 0;
}

} // namespace

bool SheetHyperlinks::loadRelationships(
    const std::optional<std::string>& relsXml, MemoryBudget& budget)
{
    if (relsXml) {
        if (!XmlTree::load(m_rels, *relsXml, budget)
            || XmlTree::localName(m_rels.document_element()) != "Relationships")
            return false;
    }
    for (pugi::xml_node rel = m_rels.document_element().first_child(); rel;
         rel = rel.next_sibling()) {
        if (rel.type() != pugi::node_element)
            continue;
        const std::string id = rel.attribute("Id").value();
        m_relationshipsById.emplace(id, rel);
        if (id.starts_with("rId"))
            m_nextRelationship = std::max(m_nextRelationship,
                std::int64_t { WorksheetXml::parseInt(std::string_view(id).substr(3), 0) } + 1);
    }
    return true;
}

void SheetHyperlinks::readHyperlinks(pugi::xml_node root)
{
    m_strict = isStrict(root);
    for (pugi::xml_attribute attribute = root.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        const std::string_view name = attribute.name();
        if (name.starts_with("xmlns:")
            && std::strcmp(attribute.value(), relationshipNamespace()) == 0)
            m_relationshipPrefix = std::string(name.substr(6));
    }
    const pugi::xml_node links = XmlTree::child(root, "hyperlinks");
    for (pugi::xml_node link = links.first_child(); link; link = link.next_sibling()) {
        if (link.type() != pugi::node_element || XmlTree::localName(link) != "hyperlink")
            continue;
        ++m_count;
        const CellAddress address = CellAddress::parse(link.attribute("ref").value());
        if (address.isValid()) {
            m_links[WorksheetXml::cellKey(address.row, address.column)] = link;
            m_lastRow = std::max(m_lastRow, address.row);
        }
        for (pugi::xml_attribute attribute = link.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            const std::string_view name = attribute.name();
            if (name.ends_with(":id"))
                ++m_relationshipUses[attribute.value()];
        }
    }
}

const char* SheetHyperlinks::relationshipNamespace() const
{
    return m_strict ? StrictRelationshipNamespace : RelationshipNamespace;
}

const char* SheetHyperlinks::hyperlinkType() const
{
    return m_strict ? StrictHyperlinkType : HyperlinkType;
}

pugi::xml_node SheetHyperlinks::relationship(const std::string& id) const
{
    const auto it = m_relationshipsById.find(id);
    return it == m_relationshipsById.end() ? pugi::xml_node() : it->second;
}

std::string SheetHyperlinks::newRelationshipId()
{
    std::string id;
    do {
        id = "rId" + std::to_string(m_nextRelationship++);
    } while (m_relationshipsById.contains(id));
    return id;
}

QString SheetHyperlinks::address(int row, int column) const
{
    const auto it = m_links.find(WorksheetXml::cellKey(row, column));
    if (it == m_links.end())
        return {};
    for (pugi::xml_attribute attribute = it->second.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        if (std::string_view(attribute.name()).ends_with(":id")) {
            if (const pugi::xml_node rel = relationship(attribute.value()))
                return QString::fromUtf8(rel.attribute("Target").value());
        }
    }
    return {};
}

bool SheetHyperlinks::isAcceptable(const QString& address)
{
    if (address.isEmpty() || address.size() > MaxAddressLength)
        return false;
    return std::none_of(address.begin(), address.end(), [](QChar ch) {
        return ch.unicode() < 0x20 || ch.unicode() == 0x7F || ch.isSurrogate()
            || ch.unicode() >= 0xFFFE;
    });
}

void SheetHyperlinks::ensureRelationshipsDocument()
{
    if (m_rels.document_element())
        return;
    m_rels.reset();
    pugi::xml_node declaration = m_rels.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("UTF-8");
    declaration.append_attribute("standalone").set_value("yes");
    m_rels.append_child("Relationships")
        .append_attribute("xmlns")
        .set_value("http://schemas.openxmlformats.org/package/2006/relationships");
}

std::string SheetHyperlinks::addRelationship(const QByteArray& target)
{
    const std::string id = newRelationshipId();
    pugi::xml_node rel = XmlTree::appendElement(m_rels.document_element(), "Relationship");
    rel.append_attribute("Id").set_value(id.c_str());
    rel.append_attribute("Type").set_value(hyperlinkType());
    rel.append_attribute("Target").set_value(target.constData());
    rel.append_attribute("TargetMode").set_value("External");
    m_relationshipsById.emplace(id, rel);
    m_relationshipUses[id] = 1;
    return id;
}

// A relationship of this link alone is changed in place; one shared with
// other links (or of another type) is left to them and the link gets its own.
void SheetHyperlinks::redirect(
    pugi::xml_node link, const std::string& idName, const QByteArray& target)
{
    pugi::xml_attribute idAttribute = link.attribute(idName.c_str());
    pugi::xml_node rel = idAttribute ? relationship(idAttribute.value()) : pugi::xml_node();
    if (rel && m_relationshipUses[idAttribute.value()] == 1
        && std::strcmp(rel.attribute("Type").value(), hyperlinkType()) == 0) {
        rel.attribute("Target").set_value(target.constData());
        if (!rel.attribute("TargetMode"))
            rel.append_attribute("TargetMode");
        rel.attribute("TargetMode").set_value("External");
    } else {
        if (idAttribute)
            --m_relationshipUses[idAttribute.value()];
        else
            idAttribute = link.append_attribute(idName.c_str());
        idAttribute.set_value(addRelationship(target).c_str());
    }
    link.remove_attribute("location");
}

SheetHyperlinks::Result SheetHyperlinks::link(
    pugi::xml_node root, int row, int column, const QString& address)
{
    if (!CellAddress { row, column }.isValid() || !isAcceptable(address))
        return Result::Refused;
    const QByteArray target = address.toUtf8();
    if (m_relationshipPrefix.empty())
        m_relationshipPrefix = XmlTree::namespacePrefix(root, relationshipNamespace(), "r");
    const std::string idName = m_relationshipPrefix + ":id";
    ensureRelationshipsDocument();

    const std::uint64_t key = WorksheetXml::cellKey(row, column);
    if (const auto existing = m_links.find(key); existing != m_links.end()) {
        redirect(existing->second, idName, target);
        m_relsDirty = true;
        return Result::Linked;
    }
    if (m_count >= MaxHyperlinks)
        return Result::LimitReached;

    pugi::xml_node links = XmlTree::ensureChild(root, "hyperlinks", WorksheetXml::ChildOrder);
    pugi::xml_node link = XmlTree::appendElement(links, "hyperlink");
    link.append_attribute("ref").set_value(CellAddress { row, column }.toString().c_str());
    link.append_attribute(idName.c_str()).set_value(addRelationship(target).c_str());
    m_links[key] = link;
    ++m_count;
    m_lastRow = std::max(m_lastRow, row);
    m_relsDirty = true;
    return Result::Linked;
}

void SheetHyperlinks::dropUses(const pugi::xml_node& link)
{
    for (pugi::xml_attribute attribute = link.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        if (!std::string_view(attribute.name()).ends_with(":id"))
            continue;
        const std::string id = attribute.value();
        const pugi::xml_node rel = relationship(id);
        if (--m_relationshipUses[id] > 0 || !rel
            || std::strcmp(rel.attribute("Type").value(), hyperlinkType()) != 0)
            continue;
        m_rels.document_element().remove_child(rel);
        m_relationshipsById.erase(id);
        m_relationshipUses.erase(id);
    }
}

void SheetHyperlinks::removeFromRow(int fromRow)
{
    m_lastRow = 0;
    for (auto it = m_links.begin(); it != m_links.end();) {
        const int row = CellAddress::parse(it->second.attribute("ref").value()).row;
        if (row < fromRow) {
            m_lastRow = std::max(m_lastRow, row);
            ++it;
            continue;
        }
        dropUses(it->second);
        it->second.parent().remove_child(it->second);
        it = m_links.erase(it);
        --m_count;
        m_relsDirty = true;
    }
}

std::optional<std::string> SheetHyperlinks::serializeRelationships() const
{
    if (!m_relsDirty)
        return std::nullopt;
    return XmlTree::print(m_rels);
}

} // namespace zp
