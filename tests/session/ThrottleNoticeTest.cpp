#include "session/ThrottleNotice.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

// What the run tells of the shop's throttling answers, which come at the
// given seconds after the first: at most two lines, the first at once, the
// second once a slow-down (answers less than a minute apart) lasts a minute.
struct ThrottleCase {
    const char* name;
    QList<int> seconds;
    QList<int> told; // the answers (by index) that give a line
};

class ThrottleNoticeTest : public ::testing::TestWithParam<ThrottleCase> { };

TEST_P(ThrottleNoticeTest, TellsOfTheFirstSlowDownAndOfOneThatLastsAMinute)
{
    ThrottleNotice notice;
    const QDateTime start(QDate(2024, 3, 1), QTime(10, 0, 0));
    QList<int> told;
    QStringList lines;
    for (int i = 0; i < GetParam().seconds.size(); ++i) {
        const QString line = notice.onThrottled(start.addSecs(GetParam().seconds.at(i)), u"429"_s);
        if (!line.isEmpty()) {
            told.append(i);
            lines.append(line);
        }
    }
    EXPECT_EQ(told, GetParam().told);
    if (!lines.isEmpty()) {
        EXPECT_EQ(lines.first(),
            u"Сайт просит загружать медленнее (429): парсер ждёт и повторяет запросы сам."_s);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ThrottleNoticeTest,
    ::testing::Values(ThrottleCase { "One", { 0 }, { 0 } },
        ThrottleCase { "ManyWithinAMinute", { 0, 1, 2, 30, 59 }, { 0 } },
        ThrottleCase { "LastingAMinute", { 0, 20, 40, 60, 61, 200 }, { 0, 3 } },
        ThrottleCase { "PausedLongerThanAMinute", { 0, 10, 71, 100, 131, 140 }, { 0, 4 } },
        ThrottleCase { "TwoShortOnes", { 0, 30, 100, 130 }, { 0 } }),
    [](const ::testing::TestParamInfo<ThrottleCase>& info) { return info.param.name; });

} // namespace
} // namespace zp::test
