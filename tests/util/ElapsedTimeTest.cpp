#include "util/ElapsedTime.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

TEST(FormatElapsed, HoursMinutesSecondsOfTheTimeOfDayPart)
{
    const QDateTime start(QDate(2026, 12, 7), QTime(23, 30, 0));
    EXPECT_EQ(FormatElapsed(start, start), u"00:00:00"_s);
    EXPECT_EQ(FormatElapsed(start, start.addSecs(3725)), u"01:02:05"_s);
    EXPECT_EQ(FormatElapsed(start, start.addSecs(25 * 3600)), u"01:00:00"_s);
    EXPECT_EQ(FormatElapsed(start, start.addSecs(24 * 3600 - 1)), u"23:59:59"_s);
    EXPECT_EQ(FormatElapsed(start, start.addMSecs(999)), u"00:00:00"_s);
}

TEST(FormatElapsed, ClockSetBackShowsZero)
{
    const QDateTime start(QDate(2026, 12, 7), QTime(12, 0, 0));
    EXPECT_EQ(FormatElapsed(start, start.addSecs(-90)), u"00:00:00"_s);
}

TEST(LeadingNumber, ReadsTheLeadingDigits)
{
    EXPECT_EQ(LeadingNumber(u"41"_s), 41);
    EXPECT_EQ(LeadingNumber(u"  7 rows"_s), 7);
    EXPECT_EQ(LeadingNumber(u"12abc34"_s), 12);
    EXPECT_EQ(LeadingNumber(u"-3"_s), -3);
    EXPECT_EQ(LeadingNumber(QString()), 0);
    EXPECT_EQ(LeadingNumber(u"abc"_s), 0);
}

} // namespace
} // namespace zp
