#pragma once

#include <QByteArray>
#include <QString>

namespace zp {

// Decodes a page body as UTF-8. Decoding stops at the first NUL byte;
// malformed sequences become U+FFFD and the rest of the text is kept. A
// byte-order mark stays in the text as U+FEFF. Empty input gives empty text.
QString UTF8ToUnicode(const QByteArray& bytes);

} // namespace zp
