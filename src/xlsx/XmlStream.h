#pragma once

#include "util/Failure.h"

#include <QString>
#include <cstdint>
#include <string_view>

struct XML_ParserStruct;

namespace zp {

// A streaming (SAX) reader over expat for the parts too large to hold as a
// tree: the worksheet and the shared strings. Element names are handed over
// without their namespace prefix. Documents with a DTD are refused, which
// shuts out entity expansion attacks.
class XmlStream {
public:
    XmlStream();
    virtual ~XmlStream();
    XmlStream(const XmlStream&) = delete;
    XmlStream& operator=(const XmlStream&) = delete;

    // Parses the next piece of the document; last marks its end. Returns
    // false once the document is malformed or a handler stopped the parse.
    bool feed(const char* data, std::size_t size, bool last);

    QString errorText() const { return m_error; }
    // Why the parse failed: malformed XML (Damaged), or what a handler gave.
    Failure failure() const { return { m_errorKind, m_error }; }

    // Value of the attribute named exactly name, or nullptr.
    static const char* attribute(const char** attributes, std::string_view name);

protected:
    virtual void startElement(std::string_view name, const char** attributes) = 0;
    virtual void endElement(std::string_view name) = 0;
    virtual void characters(std::string_view text);

    // Byte offset in the whole document of the event being handled, and the
    // number of bytes of its markup (0 for the end of an empty element).
    std::int64_t eventOffset() const;
    int eventLength() const;

    // Ends the parse with an error.
    void fail(const QString& reason, Failure::Kind kind = Failure::Kind::Damaged);

    // Whether characters() is called; off, text is skipped more cheaply.
    void setCharactersWanted(bool wanted);

private:
    static std::string_view localName(const char* name);

    XML_ParserStruct* m_parser;
    QString m_error;
    Failure::Kind m_errorKind = Failure::Kind::Damaged;
};

} // namespace zp
