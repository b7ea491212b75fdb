#include "workbook/TextArena.h"

#include "workbook/MemoryBudget.h"

#include <QStringDecoder>
#include <cstring>

namespace zp {

namespace {

constexpr char Utf16Mark = '\xFF';

} // namespace

TextArena::TextArena(MemoryBudget* budget)
    : m_bytes(1, '\0')
    , m_budget(budget)
{
}

std::optional<TextArena::Offset> TextArena::tryAdd(std::string_view bytes)
{
    constexpr std::size_t longestLength = 10; // base-128 digits of a 64-bit length
    if (m_budget
        && !reserveWithin(m_bytes, m_bytes.size() + bytes.size() + longestLength, *m_budget))
        return std::nullopt;
    return add(bytes);
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
// first, high bit set on every byte but the last) followed by its bytes.
TextArena::Offset TextArena::add(std::string_view bytes)
{
    if (bytes.empty())
        return 0;
    const Offset offset = m_bytes.size();
    std::size_t length = bytes.size();
    while (length >= 0x80) {
        m_bytes += static_cast<char>(0x80 | (length & 0x7F));
        length >>= 7;
    }
    m_bytes += static_cast<char>(length);
    m_bytes.append(bytes);
    return offset;
}

std::string_view TextArena::at(Offset offset) const
{
    std::size_t length = 0;
    int shift = 0;
    auto byte = static_cast<unsigned char>(m_bytes[offset++]);
    while (byte & 0x80) {
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        shift += 7;
        byte = static_cast<unsigned char>(m_bytes[offset++]);
    }
    length |= static_cast<std::size_t>(byte) << shift;
    return std::string_view(m_bytes).substr(offset, length);
}

} // namespace zp
