#include "xlsx/TextArena.h"

#include "xlsx/MemoryBudget.h"

#include <QStringDecoder>
#include <cstring>

namespace zp {

namespace {

constexpr char Utf16Mark = '\xFF';
constexpr std::size_t LongestLength = 10; // base-128 digits of a 64-bit length

} // namespace

TextArena::TextArena(MemoryBudget* budget)
    : m_blocks(1, std::string(1, '\0'))
    , m_budget(budget)
{
}

bool TextArena::makeRoom(std::size_t bytes, MemoryBudget* budget)
{
    const std::string& last = m_blocks.back();
    if (last.capacity() - last.size() >= bytes)
        return true;
    const std::size_t capacity = std::max(BlockSize, bytes);
    if (budget && !budget->take(capacity))
        return false;
    m_blocks.emplace_back().reserve(capacity);
    return true;
}

std::optional<TextArena::Offset> TextArena::tryAdd(std::string_view bytes)
{
    if (bytes.empty())
        return 0;
    if (!makeRoom(bytes.size() + LongestLength, m_budget))
        return std::nullopt;
    return append(bytes);
}

TextArena::Offset TextArena::add(std::string_view bytes)
{
    if (bytes.empty())
        return 0;
    makeRoom(bytes.size() + LongestLength, nullptr);
    return append(bytes);
}

std::string TextArena::encode(QStringView text)
{
    if (text.isValidUtf16()) {
        const QByteArray utf8 = text.toUtf8();
        return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    }
    std::string bytes(1, Utf16Mark);
    bytes.append(reinterpret_cast<const char*>(text.utf16()),
        static_cast<std::size_t>(text.size()) * sizeof(char16_t));
    return bytes;
}

QString TextArena::decode(std::string_view bytes)
{
    if (bytes.empty() || bytes.front() != Utf16Mark) {
        // QString::fromUtf8 would drop a byte-order mark at the start.
        QStringDecoder utf8(QStringDecoder::Utf8,
            QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        return utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    bytes.remove_prefix(1);
    QString text(static_cast<qsizetype>(bytes.size() / sizeof(char16_t)), Qt::Uninitialized);
    std::memcpy(
        text.data(), bytes.data(), static_cast<std::size_t>(text.size()) * sizeof(char16_t));
    return text;
}

// Each text is its length as a base-128 number (7 bits a byte, low bits
// first, high bit set on every byte but the last) followed by its bytes. An
// offset is the block's index in its high 32 bits and the place in the block
// in its low ones.
TextArena::Offset TextArena::append(std::string_view bytes)
{
    std::string& block = m_blocks.back();
    const Offset offset = (Offset { m_blocks.size() - 1 } << 32) | block.size();
    std::size_t length = bytes.size();
    while (length >= 0x80) {
        block += static_cast<char>(0x80 | (length & 0x7F));
        length >>= 7;
    }
    block += static_cast<char>(length);
    block.append(bytes);
    return offset;
}

std::size_t TextArena::heldBytes() const
{
    std::size_t bytes = 0;
    for (const std::string& block : m_blocks)
        bytes += block.capacity();
    return bytes;
}

std::string_view TextArena::at(Offset offset) const
{
    const std::string& block = m_blocks[offset >> 32];
    std::size_t at = offset & 0xFFFFFFFFu;
    std::size_t length = 0;
    int shift = 0;
    auto byte = static_cast<unsigned char>(block[at++]);
    while (byte & 0x80) {
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        shift += 7;
        byte = static_cast<unsigned char>(block[at++]);
    }
    length |= static_cast<std::size_t>(byte) << shift;
    return std::string_view(block).substr(at, length);
}

} // namespace zp
