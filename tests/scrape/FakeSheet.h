#pragma once

#include "catalog/CatalogSheet.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <limits>
#include <utility>

namespace zp::test {

// A worksheet in memory: records cells, links and property columns, answers
// isStored from its own column A (link address or text, as the real sheet
// does), and can be told to refuse writes or links in given columns or to run
// out of property columns.
class FakeSheet : public CatalogSheet {
public:
    using Cell = QPair<int, int>; // row, column

    static constexpr int PictureColumn = 14;
    static constexpr int FirstPropertyColumn = 15;

    bool writeCell(int row, int column, const QString& text) override
    {
        m_writeOrder.append({ row, column });
        if (row < 1 || column < 1 || m_refusedWriteColumns.contains(column))
            return false;
        m_cells.insert({ row, column }, text);
        return true;
    }

    bool linkCell(int row, int column, const QString& address) override
    {
        if (row < 1 || column < 1 || m_refusedLinkColumns.contains(column))
            return false;
        m_links.insert({ row, column }, address);
        return true;
    }

    int propertyColumn(const QString& name) override
    {
        m_propertyLookups.append(name);
        if (const auto it = m_header.constFind(name); it != m_header.constEnd())
            return *it;
        const int column = FirstPropertyColumn + int(m_header.size());
        if (column > m_lastColumn)
            return 0;
        m_header.insert(name, column);
        return column;
    }

    QString storedPicture(const QString& productUrl) const override
    {
        for (auto it = m_links.constBegin(); it != m_links.constEnd(); ++it) {
            if (it.key().second == 1 && it.value() == productUrl)
                return m_cells.value({ it.key().first, PictureColumn });
        }
        return {};
    }

    bool isStored(const QString& productUrl, const QString& lastSegment) const override
    {
        m_storedQueries.append({ productUrl, lastSegment });
        for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
            if (it.key().second != 1)
                continue;
            if (it.value().compare(lastSegment, Qt::CaseInsensitive) == 0)
                return true;
            if (m_links.value(it.key()) == productUrl)
                return true;
        }
        return false;
    }

    QString cellText(int row, int column) const override { return m_cells.value({ row, column }); }

    void discardRowsFrom(int row) override
    {
        const auto below
            = [row](QMap<Cell, QString>::iterator it) { return it.key().first >= row; };
        m_cells.removeIf(below);
        m_links.removeIf(below);
    }

    bool hasRoom() const override { return m_cells.size() < m_roomForCells; }

    Result<void> save() override
    {
        ++m_saveCount;
        if (m_onSave)
            m_onSave();
        if (m_savesFail)
            return Failure { Failure::Kind::NoSpace, QStringLiteral("disk full") };
        return {};
    }

    // Setup.
    // picture: the file name in the picture column, when not empty.
    void addStoredRow(
        int row, const QString& orderNumber, const QString& productUrl, const QString& picture = {})
    {
        m_cells.insert({ row, 1 }, orderNumber);
        m_links.insert({ row, 1 }, productUrl);
        if (!picture.isEmpty())
            m_cells.insert({ row, PictureColumn }, picture);
    }
    void addHeaderColumn(const QString& name, int column) { m_header.insert(name, column); }
    void setLastColumn(int column) { m_lastColumn = column; }
    void refuseWritesIn(int column) { m_refusedWriteColumns.insert(column); }
    void refuseLinksIn(int column) { m_refusedLinkColumns.insert(column); }
    void setOnSave(std::function<void()> hook) { m_onSave = std::move(hook); }
    void failSaves() { m_savesFail = true; }
    // hasRoom() is false once the sheet holds this many cells.
    void setRoomForCells(qsizetype cells) { m_roomForCells = cells; }

    // Inspection.
    bool hasCell(int row, int column) const { return m_cells.contains({ row, column }); }
    QString text(int row, int column) const { return m_cells.value({ row, column }); }
    bool hasLink(int row, int column) const { return m_links.contains({ row, column }); }
    QString link(int row, int column) const { return m_links.value({ row, column }); }
    // Columns of the row that hold a cell, ascending.
    QList<int> columnsOf(int row) const
    {
        QList<int> columns;
        for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
            if (it.key().first == row)
                columns.append(it.key().second);
        }
        return columns;
    }
    QList<int> linkedColumnsOf(int row) const
    {
        QList<int> columns;
        for (auto it = m_links.constBegin(); it != m_links.constEnd(); ++it) {
            if (it.key().first == row)
                columns.append(it.key().second);
        }
        return columns;
    }
    // Column A texts of every row, by row.
    QStringList orderNumbers() const
    {
        QStringList numbers;
        for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
            if (it.key().second == 1)
                numbers.append(it.value());
        }
        return numbers;
    }
    int columnOf(const QString& name) const { return m_header.value(name, 0); }
    const QStringList& propertyLookups() const { return m_propertyLookups; }
    const QList<Cell>& writeOrder() const { return m_writeOrder; }
    const QList<QPair<QString, QString>>& storedQueries() const { return m_storedQueries; }
    int saveCount() const { return m_saveCount; }

private:
    QMap<Cell, QString> m_cells;
    QMap<Cell, QString> m_links;
    QHash<QString, int> m_header;
    int m_lastColumn = 16384;
    QSet<int> m_refusedWriteColumns;
    QSet<int> m_refusedLinkColumns;
    QStringList m_propertyLookups;
    QList<Cell> m_writeOrder;
    mutable QList<QPair<QString, QString>> m_storedQueries;
    int m_saveCount = 0;
    bool m_savesFail = false;
    qsizetype m_roomForCells = std::numeric_limits<qsizetype>::max();
    std::function<void()> m_onSave;
};

} // namespace zp::test
