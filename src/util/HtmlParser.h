#pragma once

#include <QString>
#include <limits>
#include <optional>

namespace zp {

// Returns the text strictly between the first startMarker found at or after
// fromPos and the first endMarker found behind it. Positions are 1-based
// UTF-16 positions in text; fromPos 0 counts as 1. Matching is exact and
// case-sensitive.
//
// startPos receives the position of the start marker (0 when not found) and
// endPos the position of the end marker (0 when not found). A missing marker
// gives the empty string; an empty piece between two found markers gives the
// empty string with endPos > 0. Callers walk a text by feeding endPos back as
// the next fromPos. maxLength cuts the piece (not the walk) for callers that
// keep only its beginning.
QString ExtractBetween(const QString& text, const QString& startMarker, const QString& endMarker,
    qint32 fromPos, qint32& endPos, qint32& startPos,
    qint32 maxLength = std::numeric_limits<qint32>::max());

// Plain forward search: the 1-based position of the first occurrence of
// marker at or after fromPos (0 counts as 1), or 0 when there is none.
qint32 FindFrom(const QString& text, const QString& marker, qint32 fromPos);

// FindFrom over one text and marker for a walk whose start positions never
// go back: a search whose answer is already known (the marker found last
// time lies at or after the new start, or there was none) is not repeated,
// so a whole walk reads the text about once. Any start position is answered
// correctly; only going back costs a new search. The text must outlive the
// search and stay unchanged.
class ForwardSearch {
public:
    ForwardSearch(const QString& text, QString marker);
    qint32 next(qint32 fromPos);

private:
    const QString& m_text;
    QString m_marker;
    std::optional<qint32> m_lastFrom; // none before the first search
    qint32 m_lastFound = 0;
};

} // namespace zp
