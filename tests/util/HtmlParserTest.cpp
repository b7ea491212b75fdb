#include "util/HtmlParser.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

struct ExtractCase {
    const char* name;
    QString text;
    QString start;
    QString end;
    qint32 fromPos;
    QString expected;
    qint32 expectedStart;
    qint32 expectedEnd;
};

class ExtractBetweenTest : public ::testing::TestWithParam<ExtractCase> { };

TEST_P(ExtractBetweenTest, ReturnsPieceAndPositions)
{
    const ExtractCase& c = GetParam();
    qint32 endPos = -7;
    qint32 startPos = -7;
    EXPECT_EQ(ExtractBetween(c.text, c.start, c.end, c.fromPos, endPos, startPos), c.expected);
    EXPECT_EQ(startPos, c.expectedStart);
    EXPECT_EQ(endPos, c.expectedEnd);
}

const QString Twelve = u"x<td>42</td>"_s;

INSTANTIATE_TEST_SUITE_P(Cases, ExtractBetweenTest,
    ::testing::Values(ExtractCase { "FromOne", Twelve, u"<td>"_s, u"</td>"_s, 1, u"42"_s, 2, 8 },
        ExtractCase { "FromZeroCountsAsOne", Twelve, u"<td>"_s, u"</td>"_s, 0, u"42"_s, 2, 8 },
        ExtractCase { "FromPastStartMarker", Twelve, u"<td>"_s, u"</td>"_s, 3, {}, 0, 0 },
        ExtractCase { "FromExactlyAtMarker", Twelve, u"<td>"_s, u"</td>"_s, 2, u"42"_s, 2, 8 },
        ExtractCase { "NoEndMarker", u"ab<td>42"_s, u"<td>"_s, u"</td>"_s, 1, {}, 3, 0 },
        ExtractCase {
            "EndMarkerOnlyBefore", u"</td>a<td>42"_s, u"<td>"_s, u"</td>"_s, 1, {}, 7, 0 },
        ExtractCase { "EmptyPiece", u"<td></td>"_s, u"<td>"_s, u"</td>"_s, 1, {}, 1, 5 },
        ExtractCase { "FromBeyondText", Twelve, u"<td>"_s, u"</td>"_s, 99, {}, 0, 0 },
        ExtractCase { "CaseSensitive", u"<TD>42</TD>"_s, u"<td>"_s, u"</td>"_s, 1, {}, 0, 0 },
        ExtractCase { "EndMarkerOverlapsStartMarkerNotCounted", u"<a\"x\""_s, u"<a\""_s, u"\""_s, 1,
            u"x"_s, 1, 5 },
        ExtractCase { "NonAsciiPositionsCountCharacters", u"Jännite<td>18 V</td>"_s, u"<td>"_s,
            u"</td>"_s, 1, u"18 V"_s, 8, 16 },
        ExtractCase { "MarkerAtVeryEnd", u"abc<td>"_s, u"<td>"_s, u"</td>"_s, 1, {}, 4, 0 }),
    [](const ::testing::TestParamInfo<ExtractCase>& info) { return std::string(info.param.name); });

TEST(ExtractBetweenWalk, FeedingEndPosBackFindsEveryPieceInOrder)
{
    const QString page = u"<a href=\"/one\">1</a><a href=\"/two\">2</a><a href=\"/three\">3</a>"_s;
    QStringList links;
    qint32 pos = 1;
    qint32 endPos = 0;
    qint32 startPos = 0;
    for (;;) {
        const QString link = ExtractBetween(page, u"<a href=\""_s, u"\""_s, pos, endPos, startPos);
        if (link.isEmpty())
            break;
        links << link;
        pos = endPos;
    }
    EXPECT_EQ(links, (QStringList { u"/one"_s, u"/two"_s, u"/three"_s }));
}

TEST(ExtractBetweenWalk, FailedSearchRestartsAtTheBeginningWhenEndPosIsFedBack)
{
    const QString text = u"<b>x</b> <b>y"_s;
    qint32 endPos = 0;
    qint32 startPos = 0;
    ExtractBetween(text, u"<b>"_s, u"</b>"_s, 9, endPos, startPos);
    ASSERT_EQ(endPos, 0);
    EXPECT_EQ(ExtractBetween(text, u"<b>"_s, u"</b>"_s, endPos, endPos, startPos), u"x"_s);
}

TEST(FindFrom, FindsAtOrAfterPosition)
{
    const QString text = u"ab<t>cd<t>"_s;
    EXPECT_EQ(FindFrom(text, u"<t>"_s, 0), 3);
    EXPECT_EQ(FindFrom(text, u"<t>"_s, 3), 3);
    EXPECT_EQ(FindFrom(text, u"<t>"_s, 4), 8);
    EXPECT_EQ(FindFrom(text, u"<t>"_s, 9), 0);
    EXPECT_EQ(FindFrom(text, u"<t>"_s, 1000), 0);
}

TEST(ForwardSearch, AnswersAsFindFromForAnyOrderOfStarts)
{
    const QString text = u"ab<t>cd<t>ef<t>"_s;
    ForwardSearch search(text, u"<t>"_s);
    // Forward, repeated, backwards, past the end and back again.
    for (const qint32 from : { 0, 1, 3, 3, 4, 8, 9, 2, 13, 14, 1000, 5, 0 }) {
        EXPECT_EQ(search.next(from), FindFrom(text, u"<t>"_s, from)) << from;
    }
}

} // namespace
} // namespace zp
