#pragma once

#include <algorithm>
#include <cstddef>

namespace zp {

// The bytes that the parts of one open workbook may keep in memory together.
// Every part has a cap of its own, but a file can bring each part up to its
// cap at once; so each part takes its share from one budget before it holds
// it, and what does not fit is refused. What a part holds only while it is
// read (a part's text being parsed into a tree) is taken from a copy of the
// budget, which then goes away.
class MemoryBudget {
public:
    explicit MemoryBudget(std::size_t total)
        : m_left(total)
    {
    }

    // Takes bytes; false, and nothing taken, when fewer are left.
    bool take(std::size_t bytes)
    {
        if (bytes > m_left)
            return false;
        m_left -= bytes;
        return true;
    }

    // Gives back bytes taken before that are no longer held.
    void giveBack(std::size_t bytes) { m_left += bytes; }

    std::size_t left() const { return m_left; }

private:
    std::size_t m_left;
};

// Makes room in container (a string or vector) for size elements, growing it
// by half, or by as much as budget still holds, and takes what the new block
// costs from budget. While the elements move, both blocks are held, and both
// are counted. False, with the container as it was, when budget cannot hold
// them. The new block is built by hand: a string's own reserve() would double.
template <typename Container>
bool reserveWithin(Container& container, std::size_t size, MemoryBudget& budget)
{
    constexpr std::size_t unit = sizeof(typename Container::value_type);
    const std::size_t old = container.capacity();
    if (size <= old)
        return true;
    const std::size_t capacity = std::min(std::max(size, old + old / 2), budget.left() / unit);
    if (capacity < size || !budget.take(capacity * unit))
        return false;
    Container grown;
    grown.reserve(capacity);
    grown.insert(grown.end(), container.begin(), container.end());
    container.swap(grown);
    budget.giveBack(old * unit);
    return true;
}

} // namespace zp
