// Page bytes as they come from the network: UTF-8 decoding, then marker
// searches over the text as the crawler walks it (endPos fed back as fromPos).
#include "util/HtmlParser.h"
#include "util/Utf8.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

QString marker(FuzzedDataProvider& input)
{
    const std::string bytes = input.ConsumeRandomLengthString(24);
    const QString text = zp::UTF8ToUnicode(QByteArray::fromStdString(bytes));
    return text.isEmpty() ? QStringLiteral("\"") : text;
}

void checkPiece(const QString& text, const QString& start, const QString& end, qint32 fromPos)
{
    qint32 endPos = -1;
    qint32 startPos = -1;
    const QString piece = zp::ExtractBetween(text, start, end, fromPos, endPos, startPos);
    require(startPos >= 0 && endPos >= 0);
    if (startPos == 0) {
        require(endPos == 0 && piece.isEmpty());
        return;
    }
    require(startPos >= std::max(fromPos, 1));
    require(text.mid(startPos - 1, start.size()) == start);
    if (endPos == 0) {
        require(piece.isEmpty());
        return;
    }
    require(endPos >= startPos + start.size());
    require(text.mid(endPos - 1, end.size()) == end);
    require(piece == text.mid(startPos - 1 + start.size(), endPos - startPos - start.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString start = marker(input);
    const QString end = marker(input);
    const qint32 fromPos = input.ConsumeIntegralInRange<qint32>(0, 1 << 20);
    const std::vector<uint8_t> body = input.ConsumeRemainingBytes<uint8_t>();
    const QByteArray bytes(reinterpret_cast<const char*>(body.data()), qsizetype(body.size()));

    const QString text = zp::UTF8ToUnicode(bytes);
    require(text.size() <= bytes.size());
    require(!text.contains(QChar(0)));
    require(text.isEmpty() == (bytes.isEmpty() || bytes.front() == '\0'));
    // A page decoded a slice at a time reads the same.
    require(zp::DecodeUtf8InSlices(bytes, 1 + fromPos % 7) == text);

    checkPiece(text, start, end, fromPos);

    // The crawler's walk: each search starts at the previous end marker, so
    // it advances by at least the start marker's length and ends.
    qint32 pos = 1;
    int steps = 0;
    for (;;) {
        qint32 endPos = 0;
        qint32 startPos = 0;
        const QString piece = zp::ExtractBetween(text, start, end, pos, endPos, startPos);
        if (endPos == 0)
            break;
        require(endPos > pos);
        pos = endPos;
        require(++steps <= text.size());
    }
    return 0;
}
