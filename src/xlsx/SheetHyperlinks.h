#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <unordered_map>

namespace zp {

class MemoryBudget;

// The hyperlinks of one worksheet and the relationships part that holds their
// targets: reads them, finds a cell's address, links cells to external
// addresses and prints the relationships for saving. The <hyperlinks> element
// itself lives in the worksheet's tree, handed in as its root element.
class SheetHyperlinks {
public:
    // Excel repairs a sheet with more hyperlinks than this by dropping them all.
    static constexpr int MaxHyperlinks = 65530;
    // Longest hyperlink address Excel keeps.
    static constexpr int MaxAddressLength = 2079;

    enum class Result {
        Linked, // the cell links to the address now
        LimitReached, // the sheet holds MaxHyperlinks links; nothing changed
        Refused, // the address is empty, too long or has control characters, or the cell is
                 // outside the sheet
    };

    // Reads the sheet's relationships part (nullopt when it has none). False
    // when the part is malformed.
    bool loadRelationships(const std::optional<std::string>& relsXml, MemoryBudget& budget);
    // Indexes the hyperlinks of the worksheet whose root element is given.
    void readHyperlinks(pugi::xml_node root);

    // The external address the cell links to; empty when it has no link or
    // a link within the workbook.
    QString address(int row, int column) const;

    // Makes the cell a link to address (an external target). A link already
    // on the cell is redirected without counting against the limit.
    Result link(pugi::xml_node root, int row, int column, const QString& address);

    // Removes the links of every cell in row fromRow and below, and the
    // relationships only they used (the worksheet drops an emptied
    // hyperlinks element when it is serialized).
    void removeFromRow(int fromRow);

    int count() const { return m_count; }
    // Highest row of a cell with a link; 0 when none.
    int lastRow() const { return m_lastRow; }

    // The relationships part, nullopt when unchanged since the last save.
    std::optional<std::string> serializeRelationships() const;
    void committed() { m_relsDirty = false; }

private:
    static bool isAcceptable(const QString& address);
    pugi::xml_node relationship(const std::string& id) const;
    // The transitional names, or Strict's for a Strict sheet.
    const char* relationshipNamespace() const;
    const char* hyperlinkType() const;
    std::string newRelationshipId();
    std::string addRelationship(const QByteArray& target);
    void redirect(pugi::xml_node link, const std::string& idName, const QByteArray& target);
    void ensureRelationshipsDocument();
    // One link fewer uses the relationships the link names; a hyperlink
    // relationship no link uses any more is removed.
    void dropUses(const pugi::xml_node& link);

    pugi::xml_document m_rels;
    bool m_relsDirty = false;
    std::string m_relationshipPrefix; // prefix of the relationship namespace, once known
    std::unordered_map<std::string, pugi::xml_node> m_relationshipsById;
    std::unordered_map<std::string, int> m_relationshipUses;
    std::int64_t m_nextRelationship = 1; // above every rIdN present, which may be INT_MAX
    bool m_strict = false; // the sheet is in Strict Open XML
    std::unordered_map<std::uint64_t, pugi::xml_node> m_links; // cell key -> <hyperlink>
    int m_count = 0;
    int m_lastRow = 0;
};

} // namespace zp
