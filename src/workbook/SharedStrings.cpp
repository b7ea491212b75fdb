#include "workbook/SharedStrings.h"

#include "workbook/CellText.h"
#include "workbook/XlsxPackage.h"
#include "workbook/XmlStream.h"

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

class SharedStringReader final : public XmlStream {
public:
    explicit SharedStringReader(SharedStrings& table)
        : m_table(table)
    {
    }

protected:
    void startElement(std::string_view name, const char**) override
    {
        ++m_depth;
        if (m_depth == 2 && name == "si") {
            m_item.clear();
        } else if (m_depth == 3 && name == "t") {
            m_inText = true;
        } else if (m_depth == 3 && name == "r") {
            m_inRun = true;
        } else if (m_depth == 4 && m_inRun && name == "t") {
            m_inText = true;
        }
    }

    void endElement(std::string_view name) override
    {
        if (m_depth == 2 && name == "si")
            m_table.append(m_item);
        else if (name == "t")
            m_inText = false;
        else if (m_depth == 3 && name == "r")
            m_inRun = false;
        --m_depth;
    }

    void characters(std::string_view text) override
    {
        if (m_inText)
            m_item.append(text);
    }

private:
    SharedStrings& m_table;
    std::string m_item;
    int m_depth = 0;
    bool m_inText = false;
    bool m_inRun = false;
};

} // namespace

void SharedStrings::append(std::string_view utf8)
{
    m_offsets.push_back(static_cast<std::uint32_t>(m_pool.size()));
    m_pool.append(utf8);
}

QString SharedStrings::text(int index) const
{
    if (index < 0 || index >= count())
        return {};
    const std::size_t start = m_offsets[static_cast<std::size_t>(index)];
    const std::size_t end = static_cast<std::size_t>(index) + 1 < m_offsets.size()
        ? m_offsets[static_cast<std::size_t>(index) + 1]
        : m_pool.size();
    return CellText::fromXml(std::string_view(m_pool).substr(start, end - start));
}

Result<void> SharedStrings::load(const XlsxPackage& package, std::string_view part)
{
    m_pool.clear();
    m_offsets.clear();
    SharedStringReader reader(*this);
    const Result<void> read = package.readChunks(part,
        [&reader](const char* data, std::size_t size) { return reader.feed(data, size, false); });
    if (read && reader.feed(nullptr, 0, true))
        return {};
    m_pool.clear();
    m_offsets.clear();
    if (!reader.errorText().isEmpty())
        return Failure { u"shared strings: "_s + reader.errorText() };
    return Failure { read.error() };
}

} // namespace zp
