#include "WorkbookRows.h"

#include "workbook/ExternalTools.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {

std::optional<WorkbookRows> WorkbookRows::read(const QString& file)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(ExternalTools::python(),
        { QStringLiteral(ZP_SOURCE_DIR "/tests/e2e/workbook_rows.py"), file });
    if (!python.waitForFinished(120000) || python.exitCode() != 0)
        return std::nullopt;
    const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput())
                                .object()
                                .value(u"rows"_s)
                                .toArray();
    if (rows.isEmpty())
        return std::nullopt;
    WorkbookRows result;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        std::vector<SheetCell> cells;
        for (const QJsonValue& cell : rows.at(r).toArray()) {
            const QJsonObject c = cell.toObject();
            cells.push_back({ c.value(u"v"_s).toString(), c.value(u"l"_s).toString() });
        }
        if (r == 0) {
            for (const SheetCell& c : cells)
                result.m_header << c.text;
        } else {
            result.m_rows.push_back(std::move(cells));
        }
    }
    return result;
}

SheetCell WorkbookRows::cell(int product, int column) const
{
    const std::vector<SheetCell>& row = m_rows.at(size_t(product));
    return column >= 1 && size_t(column) <= row.size() ? row.at(size_t(column - 1)) : SheetCell {};
}

SheetCell WorkbookRows::cell(int product, const QString& header) const
{
    const qsizetype column = m_header.indexOf(header);
    return column < 0 ? SheetCell {} : cell(product, int(column) + 1);
}

QStringList WorkbookRows::orderNumbers() const
{
    QStringList numbers;
    for (int i = 0; i < productCount(); ++i)
        numbers << cell(i, 1).text;
    return numbers;
}

} // namespace zp::test
