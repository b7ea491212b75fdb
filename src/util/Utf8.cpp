#include "util/Utf8.h"

#include <QStringDecoder>

namespace zp {

QString UTF8ToUnicode(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArrayView body = nul < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(nul);
    // The default decoder drops a leading byte-order mark; the page keeps it.
    // Stateless: a sequence cut off at the end is replaced, not held back for
    // more input that never comes.
    QStringDecoder decoder(QStringDecoder::Utf8,
        QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(body);
}

} // namespace zp
