// Cell text both ways: what CellText writes for any text (_xHHHH_ escapes,
// XML escapes) reads back as the same text, and any stored <t> content decodes
// without fault.
#include "xlsx/CellText.h"
#include "xlsx/XmlTree.h"

#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Any UTF-16 code units, lone surrogates and control characters included.
    const QString raw(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QString text = zp::CellText::limited(raw);
    if (text.size() > zp::CellText::MaxLength)
        std::abort();

    const std::string element = "<t>" + zp::CellText::toXml(text) + "</t>";
    pugi::xml_document document;
    if (!document.load_buffer(element.data(), element.size(), zp::XmlTree::ParseOptions))
        std::abort(); // what we write must be well-formed XML
    const QString readBack = zp::CellText::fromXml(document.child("t").child_value());
    if (readBack != text) {
        std::fprintf(stderr, "written:   %s\nxml:       %s\nread back: %s\n",
            text.toUtf8().toHex(' ').constData(), element.c_str(),
            readBack.toUtf8().toHex(' ').constData());
        std::abort();
    }

    // Stored text as another program wrote it.
    zp::CellText::fromXml(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
