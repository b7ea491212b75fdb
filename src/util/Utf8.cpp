#include "util/Utf8.h"

#include <QStringDecoder>
#include <algorithm>

namespace zp {

namespace {

constexpr qsizetype kSliceBytes = 1024 * 1024;

QString decode(QByteArrayView bytes)
{
    // The default decoder drops a leading byte-order mark; the page keeps it.
    // Stateless: a sequence cut off at the end is replaced, not held back for
    // more input that never comes.
    QStringDecoder decoder(QStringDecoder::Utf8,
        QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArrayView beforeNul(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(nul);
}

bool isContinuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

} // namespace

QString UTF8ToUnicode(const QByteArray& bytes)
{
    return decode(beforeNul(bytes));
}

QString UTF8ToUnicode(QByteArray&& bytes)
{
    return DecodeUtf8InSlices(std::move(bytes), kSliceBytes);
}

// Slices start at a byte that is not a continuation byte, so that no
// sequence, whole or malformed, is split between two slices. The text is
// written from the end of a buffer of one code unit per byte (never fewer
// are needed) and moved to its front at the end.
QString DecodeUtf8InSlices(QByteArray bytes, qsizetype sliceBytes)
{
    bytes.truncate(beforeNul(bytes).size());
    if (bytes.size() <= 2 * sliceBytes)
        return decode(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    qsizetype textStart = text.size();
    while (!bytes.isEmpty()) {
        qsizetype start = std::max<qsizetype>(bytes.size() - sliceBytes, 0);
        while (start > 0 && isContinuation(bytes[start]))
            --start;
        const QString slice = decode(QByteArrayView(bytes).sliced(start));
        textStart -= slice.size();
        std::copy(slice.begin(), slice.end(), text.begin() + textStart);
        bytes.truncate(start);
        bytes.squeeze();
    }
    text.remove(0, textStart);
    text.squeeze();
    return text;
}

} // namespace zp
