#pragma once

#include "util/Failure.h"
#include "xlsx/MemoryBudget.h"

#include <initializer_list>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace zp {

// Helpers for the small parts kept as pugixml trees (workbook, styles,
// relationships, the worksheet outside its rows). Element names may carry a
// namespace prefix; these helpers compare local names and give new elements
// the prefix of their parent.
class XmlTree {
public:
    // Options of every tree parse: white space in text kept, declarations,
    // comments and processing instructions kept so that they are written back.
    static constexpr unsigned ParseOptions = pugi::parse_full | pugi::parse_ws_pcdata;

    // Most nodes (elements and attributes, counted generously) a tree may
    // have. The parts are capped in bytes as well, but a few hundred bytes of
    // deflated "<a/>" become millions of elements, and each costs far more
    // memory as a tree node than as text.
    static constexpr std::size_t MaxNodes = 1'000'000;
    // Longest text a tree is built of. The tree keeps a copy of the text, and
    // several trees live beside the worksheet's own text for as long as the
    // workbook is open.
    static constexpr std::size_t MaxBytes = 64u * 1024u * 1024u;
    // What pugixml spends on a node (an element's seven links and its name
    // and value, an attribute's five), counted generously.
    static constexpr std::size_t NodeBytes = 64;

    // Parses xml into document with ParseOptions | extraOptions. Refuses
    // (status_out_of_memory, document left empty) text over MaxBytes or that
    // would make more than MaxNodes nodes.
    static pugi::xml_parse_result load(
        pugi::xml_document& document, std::string_view xml, unsigned extraOptions = 0);
    // The same, and the tree takes what it keeps from budget. The parse is
    // refused as well when budget cannot hold the tree beside xml, which the
    // caller holds while it is parsed.
    static pugi::xml_parse_result load(
        pugi::xml_document& document, std::string_view xml, MemoryBudget& budget);

    // Why a load of part failed: refused for its size (TooLarge) or
    // malformed (Damaged, with pugixml's words and the byte).
    static Failure failureOf(const pugi::xml_parse_result& result, const QString& part);

    // Bytes a tree of xml keeps: its copy of the text and its nodes.
    static std::size_t cost(std::string_view xml);

    static std::string_view localName(const pugi::xml_node& node);
    static std::string prefix(const pugi::xml_node& node); // "x:" or ""

    // First child element with the local name, or an empty node.
    static pugi::xml_node child(const pugi::xml_node& parent, std::string_view name);

    // The child element with the local name; when absent it is inserted
    // before the first child that comes after it in order (the schema's
    // sequence of the parent's children, name included).
    static pugi::xml_node ensureChild(pugi::xml_node parent, std::string_view name,
        std::initializer_list<std::string_view> order);

    // Appends a child element named with the parent's prefix.
    static pugi::xml_node appendElement(pugi::xml_node parent, std::string_view name);

    // The document as UTF-8 text, declaration as it was, no indentation.
    static std::string print(const pugi::xml_document& document);
    static std::string print(const pugi::xml_node& node);

    // The namespace prefix bound to uri on root ("r" for xmlns:r=...),
    // declaring it as suggested when absent.
    static std::string namespacePrefix(pugi::xml_node root, const char* uri, const char* suggested);
};

} // namespace zp
