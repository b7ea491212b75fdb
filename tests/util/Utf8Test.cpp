#include "util/Utf8.h"

#include <QList>
#include <gtest/gtest.h>
#include <random>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

TEST(UTF8ToUnicode, EmptyGivesEmpty)
{
    EXPECT_TRUE(UTF8ToUnicode(QByteArray()).isEmpty());
}

TEST(UTF8ToUnicode, AsciiIsKeptCharacterForCharacter)
{
    QByteArray all;
    for (int c = 1; c < 128; ++c)
        all.append(char(c));
    const QString text = UTF8ToUnicode(all);
    ASSERT_EQ(text.size(), 127);
    for (int c = 1; c < 128; ++c)
        EXPECT_EQ(text.at(c - 1).unicode(), c);
}

TEST(UTF8ToUnicode, MultiByteSequences)
{
    EXPECT_EQ(UTF8ToUnicode(QByteArray("\xC3\xA4")), QString(QChar(0x00E4)));
    const QString pair = UTF8ToUnicode(QByteArray("\xF0\x9F\x98\x80"));
    ASSERT_EQ(pair.size(), 2);
    EXPECT_TRUE(pair.at(0).isHighSurrogate());
    EXPECT_EQ(pair.toUcs4().value(0), 0x1F600u);
}

TEST(UTF8ToUnicode, StopsAtFirstNulByte)
{
    EXPECT_EQ(UTF8ToUnicode(QByteArray("abc\0def", 7)), u"abc"_s);
    EXPECT_TRUE(UTF8ToUnicode(QByteArray("\0abc", 4)).isEmpty());
}

TEST(UTF8ToUnicode, ByteOrderMarkStaysAtTheStart)
{
    const QString text = UTF8ToUnicode(QByteArray("\xEF\xBB\xBFok"));
    ASSERT_EQ(text.size(), 3);
    EXPECT_EQ(text.at(0).unicode(), 0xFEFF);
    EXPECT_EQ(text.mid(1), u"ok"_s);
}

TEST(UTF8ToUnicode, MalformedBytesDoNotLoseTheRest)
{
    const QString stray = UTF8ToUnicode(QByteArray("a\x80"
                                                   "b"));
    EXPECT_TRUE(stray.startsWith(u'a'));
    EXPECT_TRUE(stray.endsWith(u'b'));
    EXPECT_LE(stray.size(), 3);

    const QString cut = UTF8ToUnicode(QByteArray("Tila\xC3"));
    EXPECT_TRUE(cut.startsWith(u"Tila"_s));
    EXPECT_LE(cut.size(), 5);
}

// A body cut off inside a character still shows that something was there:
// the cut-off bytes become replacement characters, one per byte at most.
TEST(UTF8ToUnicode, SequenceCutOffAtTheEndBecomesReplacementCharacters)
{
    for (const QByteArray& tail :
        { QByteArray("\xC3"), QByteArray("\xE2\x82"), QByteArray("\xF0\x9F\x98") }) {
        for (const QByteArray& after : { QByteArray(), QByteArray("\0x", 2) }) {
            const QString text = UTF8ToUnicode("Tila" + tail + after);
            const QString rest = text.mid(4);
            EXPECT_TRUE(text.startsWith(u"Tila"_s));
            EXPECT_GE(rest.size(), 1) << tail.toHex().toStdString();
            EXPECT_LE(rest.size(), tail.size());
            EXPECT_EQ(rest, QString(rest.size(), QChar(0xFFFD))) << tail.toHex().toStdString();
        }
    }
}

// Decoding a slice at a time gives exactly the text of decoding at once,
// whatever the bytes: valid and malformed sequences, stray continuation
// bytes, byte-order marks and NULs at and around every slice boundary.
TEST(UTF8ToUnicode, SlicedDecodingGivesTheSameText)
{
    const QList<QByteArray> pieces { "a", "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
        "\xEF\xBB\xBF", "\x80", "\xBF\xBF", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xFF",
        "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", QByteArray(1, '\0') };
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes;
        const int count = 20 + int(random() % 200);
        for (int i = 0; i < count; ++i) {
            const QByteArray& piece = pieces[random() % pieces.size()];
            // NULs end the text: keep them rare so that most rounds run long.
            if (piece.front() == '\0' && random() % 8 != 0)
                continue;
            bytes += piece;
        }
        for (const qsizetype slice : { 1, 2, 3, 5, 16 }) {
            EXPECT_EQ(DecodeUtf8InSlices(bytes, slice), UTF8ToUnicode(bytes))
                << bytes.toHex().toStdString() << " in slices of " << slice;
        }
    }
    const QByteArray large = QByteArray(3 * 1024 * 1024 + 7, 'x') + "\xC3\xA4\xE2";
    EXPECT_EQ(UTF8ToUnicode(QByteArray(large)), UTF8ToUnicode(large));
}

} // namespace
} // namespace zp
