#include "xlsx/XmlStream.h"

#include <cstring>
#include <expat.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {

XmlStream::XmlStream()
    : m_parser(XML_ParserCreate("UTF-8"))
{
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(
        m_parser,
        [](void* self, const XML_Char* name, const XML_Char** attributes) {
            static_cast<XmlStream*>(self)->startElement(localName(name), attributes);
        },
        [](void* self, const XML_Char* name) {
            static_cast<XmlStream*>(self)->endElement(localName(name));
        });
    setCharactersWanted(true);
    XML_SetStartDoctypeDeclHandler(
        m_parser, [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
            static_cast<XmlStream*>(self)->fail(u"document type declarations are not accepted"_s);
        });
}

XmlStream::~XmlStream()
{
    XML_ParserFree(m_parser);
}

std::string_view XmlStream::localName(const char* name)
{
    const char* colon = std::strchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

const char* XmlStream::attribute(const char** attributes, std::string_view name)
{
    for (; attributes && attributes[0]; attributes += 2) {
        if (name == attributes[0])
            return attributes[1];
    }
    return nullptr;
}

void XmlStream::characters(std::string_view) { }

void XmlStream::setCharactersWanted(bool wanted)
{
    if (!wanted) {
        XML_SetCharacterDataHandler(m_parser, nullptr);
        return;
    }
    XML_SetCharacterDataHandler(m_parser, [](void* self, const XML_Char* text, int length) {
        static_cast<XmlStream*>(self)->characters(
            std::string_view(text, static_cast<std::size_t>(length)));
    });
}

std::int64_t XmlStream::eventOffset() const
{
    return static_cast<std::int64_t>(XML_GetCurrentByteIndex(m_parser));
}

int XmlStream::eventLength() const
{
    return XML_GetCurrentByteCount(m_parser);
}

void XmlStream::fail(const QString& reason, Failure::Kind kind)
{
    if (m_error.isEmpty()) {
        m_error = reason;
        m_errorKind = kind;
    }
    XML_StopParser(m_parser, XML_FALSE);
}

bool XmlStream::feed(const char* data, std::size_t size, bool last)
{
    if (!m_error.isEmpty())
        return false;
    // expat copies what it is given into a buffer of its own before parsing:
    // slices keep that copy small instead of as large as the part.
    constexpr std::size_t slice = 1u << 20;
    do {
        const std::size_t n = size < slice ? size : slice;
        const bool final = last && n == size;
        if (XML_Parse(m_parser, data, static_cast<int>(n), final ? XML_TRUE : XML_FALSE)
            != XML_STATUS_OK) {
            if (m_error.isEmpty())
                m_error = u"malformed XML at line %1: %2"_s.arg(XML_GetCurrentLineNumber(m_parser))
                              .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(m_parser))));
            return false;
        }
        data += n;
        size -= n;
    } while (size > 0);
    return m_error.isEmpty();
}

} // namespace zp
