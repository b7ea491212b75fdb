#include "xlsx/CellText.h"

#include "xlsx/CellAddress.h"
#include "xlsx/MemoryBudget.h"
#include "xlsx/TextArena.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

struct EscapeCase {
    const char* name;
    QString text;
    std::string xml;
};

class CellTextEscape : public ::testing::TestWithParam<EscapeCase> { };

TEST_P(CellTextEscape, WritesEscapedAndReadsBackUnchanged)
{
    const EscapeCase& c = GetParam();
    EXPECT_EQ(CellText::toXml(c.text), c.xml);
    // The XML parser has decoded the entities before the text is read.
    QString xml = QString::fromStdString(c.xml);
    xml.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&amp;"_s, u"&"_s);
    EXPECT_EQ(CellText::fromXml(xml.toStdString()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Texts, CellTextEscape,
    ::testing::Values(EscapeCase { "plain", u"ZV-1001"_s, "ZV-1001" },
        EscapeCase { "markup", u"a < b & c > d"_s, "a &lt; b &amp; c &gt; d" },
        EscapeCase { "control", u"a"_s + QChar(0x01) + u"b"_s + QChar(0x1F), "a_x0001_b_x001F_" },
        EscapeCase { "nul", u"x"_s + QChar(0) + u"y"_s, "x_x0000_y" },
        EscapeCase { "carriageReturn", u"line\r\nnext"_s, "line_x000D_\nnext" },
        EscapeCase { "tabAndLineFeedStay", u"a\tb\nc"_s, "a\tb\nc" },
        EscapeCase { "literalEscape", u"_x0041_"_s, "_x005F_x0041_" },
        // Left plain, the underscore of the control character's escape
        // would close an escape in the output.
        EscapeCase { "literalEscapeClosedByAControlCharacter", u"_x0041"_s + QChar(0) + u"b"_s,
            "_x005F_x0041_x0000_b" },
        EscapeCase { "byteOrderMarkBehindAnEscape", u"a"_s + QChar(1) + QChar(0xFEFF) + u"b"_s,
            "a_x0001_\xEF\xBB\xBF"
            "b" },
        EscapeCase { "underscoreNoEscape", u"_x00_ and _xyz_ a_b"_s, "_x00_ and _xyz_ a_b" },
        EscapeCase { "nonCharacter", QString(QChar(0xFFFE)), "_xFFFE_" },
        EscapeCase { "cyrillicAndEmoji", u"Категория 😀"_s, "Категория 😀" }),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return std::string(info.param.name); });

TEST(CellText, LimitsLengthWithoutSplittingSurrogatePairs)
{
    const QString long40k(40000, u'x');
    EXPECT_EQ(CellText::limited(long40k).size(), CellText::MaxLength);

    QString pairAtEdge(CellText::MaxLength - 1, u'a');
    pairAtEdge += u"😀"_s; // its high surrogate is the 32,767th unit
    const QString cut = CellText::limited(pairAtEdge);
    EXPECT_EQ(cut.size(), CellText::MaxLength - 1);
    EXPECT_FALSE(cut.back().isSurrogate());

    const QString lone = u"a"_s + QChar(0xD800) + u"b"_s;
    EXPECT_EQ(CellText::limited(lone), u"a"_s + QChar(QChar::ReplacementCharacter) + u"b"_s);
}

TEST(TextArena, GivesBackEveryTextAsStored)
{
    TextArena arena;
    const QString texts[]
        = { QString(), u"a"_s, QString(300, u'ы'), QString(QChar(0xFEFF)) + u"b"_s,
              u"x"_s + QChar(0xDC00) + u"y"_s, QString(QChar(0xFFFF)), u"😀"_s };
    std::vector<TextArena::Offset> offsets;
    for (const QString& text : texts)
        offsets.push_back(arena.add(TextArena::encode(text)));
    for (std::size_t i = 0; i < offsets.size(); ++i)
        EXPECT_EQ(TextArena::decode(arena.at(offsets[i])), texts[i]) << i;
}

// Texts land in several blocks, one longer than a block among them, until the
// budget holds no further block; every text stored comes back whole.
TEST(TextArena, KeepsTextsAcrossBlocksUntilItsBudgetIsSpent)
{
    MemoryBudget budget(4 * TextArena::BlockSize);
    TextArena arena(&budget);
    std::vector<std::pair<TextArena::Offset, std::string>> stored;
    const std::string longer(TextArena::BlockSize + 3, 'L');
    for (int i = 0;; ++i) {
        const std::string text = i == 500 ? longer : std::to_string(i) + std::string(999, 't');
        const std::optional<TextArena::Offset> offset = arena.tryAdd(text);
        if (!offset)
            break;
        stored.emplace_back(*offset, text);
    }
    // 500 texts, the longer one in a block of its own, a block more of texts.
    EXPECT_GT(stored.size(), std::size_t { 1500 });
    EXPECT_LT(stored.size(), std::size_t { 1600 });
    EXPECT_LT(budget.left(), TextArena::BlockSize);
    for (const auto& [offset, text] : stored)
        ASSERT_EQ(arena.at(offset), text);
}

TEST(CellText, PreserveOnlyForEdgeWhiteSpace)
{
    EXPECT_TRUE(CellText::needsPreserve(u" a"_s));
    EXPECT_TRUE(CellText::needsPreserve(u"a\n"_s));
    EXPECT_FALSE(CellText::needsPreserve(u"a  b"_s));
    EXPECT_FALSE(CellText::needsPreserve(QString()));
}

struct AddressCase {
    const char* text;
    int row;
    int column;
};

class CellAddressParse : public ::testing::TestWithParam<AddressCase> { };

TEST_P(CellAddressParse, Parses)
{
    const AddressCase& c = GetParam();
    const CellAddress address = CellAddress::parse(c.text);
    EXPECT_EQ(address.row, c.row) << c.text;
    EXPECT_EQ(address.column, c.column) << c.text;
    if (c.row > 0 && std::string_view(c.text).find_first_of("$:") == std::string_view::npos) {
        EXPECT_EQ(address.toString(), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(References, CellAddressParse,
    ::testing::Values(AddressCase { "A1", 1, 1 }, AddressCase { "Z9", 9, 26 },
        AddressCase { "AA10", 10, 27 }, AddressCase { "XFD1048576", 1048576, 16384 },
        AddressCase { "$B$7", 7, 2 }, AddressCase { "C3:D9", 3, 3 }, AddressCase { "XFE1", 0, 0 },
        AddressCase { "A1048577", 0, 0 }, AddressCase { "A0", 0, 0 }, AddressCase { "1A", 0, 0 },
        AddressCase { "", 0, 0 }, AddressCase { "A1x", 0, 0 }));

} // namespace
} // namespace zp
