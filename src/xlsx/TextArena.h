#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zp {

class MemoryBudget;

// Texts kept one after another in blocks of bytes, each behind its length,
// and named by the offset where it starts: a few bytes a text beyond the text
// itself, where a QString costs a heap block of its own. Offset 0 is the empty
// text. A text is never removed; one that is replaced leaves its bytes behind.
// The blocks are never moved or grown, so the arena holds at most one block's
// worth of bytes it does not use, and never a copy.
//
// Texts are kept in an exact encoding: UTF-8 when the text is well-formed
// UTF-16, else a 0xFF byte (which UTF-8 never holds) and the UTF-16 code units,
// so two different texts never have the same bytes and every text comes back
// as it was stored.
class TextArena {
public:
    using Offset = std::uint64_t;
    // Bytes of a block; a longer text gets a block of its own size.
    static constexpr std::size_t BlockSize = 1u << 20;

    // With a budget, the arena's blocks are taken from it (see tryAdd).
    explicit TextArena(MemoryBudget* budget = nullptr);

    static std::string encode(QStringView text);
    static QString decode(std::string_view bytes);

    // Stores bytes (an encoded text) and returns where they start.
    Offset add(std::string_view bytes);
    // The same, or nullopt (nothing stored) when the arena's budget cannot
    // hold a block it needs.
    std::optional<Offset> tryAdd(std::string_view bytes);
    // The bytes stored at offset, which add() or tryAdd() returned.
    std::string_view at(Offset offset) const;

    // The bytes of the arena's blocks, used or not.
    std::size_t heldBytes() const;

private:
    // Makes sure the last block has room for bytes; false when the budget
    // cannot hold a new block.
    bool makeRoom(std::size_t bytes, MemoryBudget* budget);
    Offset append(std::string_view bytes);

    std::vector<std::string> m_blocks;
    MemoryBudget* m_budget;
};

} // namespace zp
