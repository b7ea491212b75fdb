#pragma once

#include <QByteArray>
#include <QString>

namespace zp {

// Decodes a page body as UTF-8. Decoding stops at the first NUL byte;
// malformed sequences become U+FFFD and the rest of the text is kept. A
// byte-order mark stays in the text as U+FEFF. Empty input gives empty text.
QString UTF8ToUnicode(const QByteArray& bytes);

// The same, for a body that is not needed afterwards: it is decoded a slice
// at a time from its end and given back as it goes, so that a large page is
// never held as bytes and as text at once.
QString UTF8ToUnicode(QByteArray&& bytes);

// UTF8ToUnicode(QByteArray&&) with slices of about sliceBytes (tests).
QString DecodeUtf8InSlices(QByteArray bytes, qsizetype sliceBytes);

} // namespace zp
