#include "xlsx/CellText.h"

#include <QStringDecoder>

namespace zp {

namespace {

bool isHex(QChar ch)
{
    const char16_t u = ch.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

bool isHex(char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

// Characters XML cannot carry, written as escapes.
bool needsEscape(char16_t u)
{
    // Carriage returns too: XML readers turn them into line feeds.
    return (u < 0x20 && u != u'\t' && u != u'\n') || u == 0xFFFE || u == 0xFFFF;
}

// True when the output at text's i would read as an escape: "_x" four hex
// digits and an underscore, the closing underscore being either in the text
// or the start of the escape that the next character becomes.
bool escapeAt(const QString& text, qsizetype i)
{
    if (i + 6 >= text.size() || text[i] != u'_' || text[i + 1] != u'x')
        return false;
    if (text[i + 6] != u'_' && !needsEscape(text[i + 6].unicode()))
        return false;
    return isHex(text[i + 2]) && isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]);
}

void appendEscape(std::string& out, char16_t unit)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out += "_x";
    out += digits[(unit >> 12) & 0xF];
    out += digits[(unit >> 8) & 0xF];
    out += digits[(unit >> 4) & 0xF];
    out += digits[unit & 0xF];
    out += '_';
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// QString::fromUtf8 drops a leading U+FEFF, which is a character of the
// cell's text here (also when it follows an escape).
QString fromUtf8(const char* data, std::size_t size)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
        QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(QByteArrayView(data, static_cast<qsizetype>(size)));
}

} // namespace

QString CellText::limited(const QString& text)
{
    QString result = text.size() > MaxLength ? text.left(MaxLength) : text;
    if (result.size() == MaxLength && result.back().isHighSurrogate())
        result.chop(1);
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar ch = result[i];
        if (ch.isHighSurrogate() && i + 1 < result.size() && result[i + 1].isLowSurrogate())
            ++i;
        else if (ch.isSurrogate())
            result[i] = QChar::ReplacementCharacter;
    }
    return result;
}

std::string CellText::toXml(const QString& text)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()) + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == u'_' && escapeAt(text, i)) {
            appendEscape(out, u);
        } else if (u == u'&') {
            out += "&amp;";
        } else if (u == u'<') {
            out += "&lt;";
        } else if (u == u'>') {
            out += "&gt;";
        } else if (needsEscape(u)) {
            appendEscape(out, u);
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size()
            && text[i + 1].isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(u, text[i + 1].unicode()));
            ++i;
        } else if (QChar::isSurrogate(u)) {
            appendUtf8(out, QChar::ReplacementCharacter);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

bool CellText::needsPreserve(const QString& text)
{
    if (text.isEmpty())
        return false;
    return text.front().isSpace() || text.back().isSpace();
}

QString CellText::fromXml(std::string_view utf8)
{
    if (utf8.find("_x") == std::string_view::npos)
        return fromUtf8(utf8.data(), utf8.size());
    QString result;
    result.reserve(static_cast<qsizetype>(utf8.size()));
    std::size_t plainStart = 0;
    std::size_t i = 0;
    while (i + 6 < utf8.size()) {
        if (utf8[i] == '_' && utf8[i + 1] == 'x' && utf8[i + 6] == '_' && isHex(utf8[i + 2])
            && isHex(utf8[i + 3]) && isHex(utf8[i + 4]) && isHex(utf8[i + 5])) {
            result += fromUtf8(utf8.data() + plainStart, i - plainStart);
            const auto code = std::stoi(std::string(utf8.substr(i + 2, 4)), nullptr, 16);
            result += QChar(static_cast<char16_t>(code));
            i += 7;
            plainStart = i;
        } else {
            ++i;
        }
    }
    result += fromUtf8(utf8.data() + plainStart, utf8.size() - plainStart);
    return result;
}

} // namespace zp
