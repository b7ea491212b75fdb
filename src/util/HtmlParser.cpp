#include "util/HtmlParser.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace zp {

qint32 FindFrom(const QString& text, const QString& marker, qint32 fromPos)
{
    const qsizetype from = fromPos <= 1 ? 0 : qsizetype(fromPos) - 1;
    if (from > text.size())
        return 0;
    const qsizetype found = text.indexOf(marker, from, Qt::CaseSensitive);
    // Pages are far below 2 GiB characters; a position beyond qint32 is not found.
    if (found < 0 || found >= std::numeric_limits<qint32>::max())
        return 0;
    return qint32(found + 1);
}

ForwardSearch::ForwardSearch(const QString& text, QString marker)
    : m_text(text)
    , m_marker(std::move(marker))
{
}

qint32 ForwardSearch::next(qint32 fromPos)
{
    const qint32 from = fromPos < 1 ? 1 : fromPos;
    const bool known
        = m_lastFrom && from >= *m_lastFrom && (m_lastFound == 0 || m_lastFound >= from);
    if (!known) {
        m_lastFrom = from;
        m_lastFound = FindFrom(m_text, m_marker, from);
    }
    return m_lastFound;
}

QString ExtractBetween(const QString& text, const QString& startMarker, const QString& endMarker,
    qint32 fromPos, qint32& endPos, qint32& startPos, qint32 maxLength)
{
    endPos = 0;
    startPos = FindFrom(text, startMarker, fromPos);
    if (startPos == 0)
        return {};
    const qint64 pieceStart = qint64(startPos) + startMarker.size();
    if (pieceStart > std::numeric_limits<qint32>::max())
        return {};
    endPos = FindFrom(text, endMarker, qint32(pieceStart));
    if (endPos == 0)
        return {};
    return text.mid(pieceStart - 1, std::min<qint64>(endPos - pieceStart, maxLength));
}

} // namespace zp
