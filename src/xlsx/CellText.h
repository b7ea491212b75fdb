#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace zp {

// Cell text as the .xlsx format stores it. XML cannot carry most control
// characters, so the format escapes them as _xHHHH_ (UTF-16 code unit in
// hex); an underscore that would read as the start of such an escape is
// itself escaped (_x005F_). Excel, LibreOffice and openpyxl all decode this.
class CellText {
public:
    // Excel's limit of characters (UTF-16 code units) in one cell.
    static constexpr int MaxLength = 32767;

    // text cut to MaxLength code units, never between the halves of a
    // surrogate pair; lone surrogates become U+FFFD.
    static QString limited(const QString& text);

    // The UTF-8 content of a <t> element for text: XML-escaped (&amp; &lt;
    // &gt;) and _xHHHH_-escaped. The text is taken as it is (not limited).
    static std::string toXml(const QString& text);

    // True when the <t> element needs xml:space="preserve" (leading or
    // trailing white space, which readers would otherwise drop).
    static bool needsPreserve(const QString& text);

    // Decodes the _xHHHH_ escapes of a <t> element's text (already
    // entity-decoded by the XML parser).
    static QString fromXml(std::string_view utf8);
};

} // namespace zp
