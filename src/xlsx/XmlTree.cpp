#include "xlsx/XmlTree.h"

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

struct StringWriter final : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override
    {
        text.append(static_cast<const char*>(data), size);
    }
};

// Every element, comment or instruction starts with '<' and every attribute
// holds a '='; text nodes lie between them.
std::size_t nodesOf(std::string_view xml)
{
    return static_cast<std::size_t>(std::count(xml.begin(), xml.end(), '<'))
        + static_cast<std::size_t>(std::count(xml.begin(), xml.end(), '='));
}

pugi::xml_parse_result refuse(pugi::xml_document& document)
{
    document.reset();
    pugi::xml_parse_result refused;
    refused.status = pugi::status_out_of_memory;
    return refused;
}

} // namespace

pugi::xml_parse_result XmlTree::load(
    pugi::xml_document& document, std::string_view xml, unsigned extraOptions)
{
    if (xml.size() > MaxBytes || nodesOf(xml) > MaxNodes)
        return refuse(document);
    return document.load_buffer(xml.data(), xml.size(), ParseOptions | extraOptions);
}

pugi::xml_parse_result XmlTree::load(
    pugi::xml_document& document, std::string_view xml, MemoryBudget& budget)
{
    const std::size_t kept = cost(xml);
    if (!budget.take(kept + xml.size()))
        return refuse(document);
    budget.giveBack(xml.size());
    const pugi::xml_parse_result result = load(document, xml);
    if (!result)
        budget.giveBack(kept);
    return result;
}

Failure XmlTree::failureOf(const pugi::xml_parse_result& result, const QString& part)
{
    if (result.status == pugi::status_out_of_memory)
        return { Failure::Kind::TooLarge, part + u": too large to hold"_s };
    return { Failure::Kind::Damaged,
        u"%1: malformed XML at byte %2: %3"_s.arg(part)
            .arg(result.offset)
            .arg(QString::fromUtf8(result.description())) };
}

std::size_t XmlTree::cost(std::string_view xml)
{
    return xml.size() + nodesOf(xml) * NodeBytes;
}

std::string_view XmlTree::localName(const pugi::xml_node& node)
{
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

std::string XmlTree::prefix(const pugi::xml_node& node)
{
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

pugi::xml_node XmlTree::child(const pugi::xml_node& parent, std::string_view name)
{
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == name)
            return node;
    }
    return {};
}

pugi::xml_node XmlTree::appendElement(pugi::xml_node parent, std::string_view name)
{
    return parent.append_child((prefix(parent) + std::string(name)).c_str());
}

pugi::xml_node XmlTree::ensureChild(
    pugi::xml_node parent, std::string_view name, std::initializer_list<std::string_view> order)
{
    if (pugi::xml_node existing = child(parent, name))
        return existing;
    const auto rankOf = [&order](std::string_view n) -> long {
        const auto it = std::find(order.begin(), order.end(), n);
        return it == order.end() ? -1 : static_cast<long>(it - order.begin());
    };
    const long rank = rankOf(name);
    const std::string qualified = prefix(parent) + std::string(name);
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element)
            continue;
        if (rankOf(localName(node)) > rank)
            return parent.insert_child_before(qualified.c_str(), node);
    }
    return parent.append_child(qualified.c_str());
}

std::string XmlTree::print(const pugi::xml_document& document)
{
    StringWriter writer;
    document.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(writer.text);
}

std::string XmlTree::print(const pugi::xml_node& node)
{
    StringWriter writer;
    node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return std::move(writer.text);
}

std::string XmlTree::namespacePrefix(pugi::xml_node root, const char* uri, const char* suggested)
{
    for (pugi::xml_attribute attribute = root.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        const std::string_view name = attribute.name();
        if (name.starts_with("xmlns:") && std::strcmp(attribute.value(), uri) == 0)
            return std::string(name.substr(6));
    }
    std::string candidate = suggested;
    for (int n = 2; root.attribute(("xmlns:" + candidate).c_str()); ++n)
        candidate = std::string(suggested) + std::to_string(n);
    root.append_attribute(("xmlns:" + candidate).c_str()).set_value(uri);
    return candidate;
}

} // namespace zp
