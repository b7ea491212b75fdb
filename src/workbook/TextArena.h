#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zp {

class MemoryBudget;

// Texts kept one after another in one block of bytes, each behind its length,
// and named by the offset where it starts: a few bytes a text beyond the text
// itself, where a QString costs a heap block of its own. Offset 0 is the empty
// text. A text is never removed; one that is replaced leaves its bytes behind.
//
// Texts are kept in an exact encoding: UTF-8 when the text is well-formed
// UTF-16, else a 0xFF byte (which UTF-8 never holds) and the UTF-16 code units,
// so two different texts never have the same bytes and every text comes back
// as it was stored.
class TextArena {
public:
    using Offset = std::uint64_t;

    // With a budget, the arena's block is taken from it (see tryAdd).
    explicit TextArena(MemoryBudget* budget = nullptr);

    static std::string encode(QStringView text);
    static QString decode(std::string_view bytes);

    // Stores bytes (an encoded text) and returns where they start.
    Offset add(std::string_view bytes);
    // The same, or nullopt (nothing stored) when the arena's budget cannot
    // hold them.
    std::optional<Offset> tryAdd(std::string_view bytes);
    // The bytes stored at offset, which add() returned.
    std::string_view at(Offset offset) const;

    std::size_t byteSize() const { return m_bytes.size(); }

private:
    std::string m_bytes;
    MemoryBudget* m_budget;
};

} // namespace zp
