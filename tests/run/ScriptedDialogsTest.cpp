#include "support/ScriptedDialogs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

TEST(ScriptedDialogs, AnswersInOrderAndRecordsEveryBox)
{
    ScriptedDialogs dialogs;
    dialogs.answer(MessageAnswer::No).answer(MessageAnswer::Yes).answer(MessageAnswer::Ok);
    Dialogs& service = dialogs;

    EXPECT_EQ(service.show(MessageStyle::StopQuestion, u"a"_s), MessageAnswer::No);
    EXPECT_EQ(service.show(MessageStyle::RetryPrompt, u"b"_s), MessageAnswer::Yes);
    EXPECT_EQ(service.show(MessageStyle::Report, u"c"_s), MessageAnswer::Ok);
    EXPECT_EQ(dialogs.pendingAnswers(), 0);
    EXPECT_EQ(dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::StopQuestion, u"a"_s },
            { MessageStyle::RetryPrompt, u"b"_s }, { MessageStyle::Report, u"c"_s } }));
}

TEST(ScriptedDialogs, UnexpectedBoxFailsTheTestAndCancels)
{
    ScriptedDialogs dialogs;
    MessageAnswer answer = MessageAnswer::Yes;
    EXPECT_NONFATAL_FAILURE(
        answer = dialogs.show(MessageStyle::StopQuestion, u"q"_s), "no answer queued");
    EXPECT_EQ(answer, MessageAnswer::No);
    EXPECT_NONFATAL_FAILURE(
        answer = dialogs.show(MessageStyle::Failure, u"f"_s), "no answer queued");
    EXPECT_EQ(answer, MessageAnswer::Ok);
    EXPECT_EQ(dialogs.shown().size(), 2u);
}

TEST(ScriptedDialogs, AnswerThatTheBoxCannotGiveFailsTheTest)
{
    ScriptedDialogs dialogs;
    dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok);
    MessageAnswer answer = MessageAnswer::Yes;
    EXPECT_NONFATAL_FAILURE(answer = dialogs.show(MessageStyle::Report, u"r"_s), "does not fit");
    EXPECT_EQ(answer, MessageAnswer::Ok);
    EXPECT_NONFATAL_FAILURE(
        answer = dialogs.show(MessageStyle::RetryPrompt, u"p"_s), "does not fit");
    EXPECT_EQ(answer, MessageAnswer::No);
}

TEST(ScriptedDialogs, OnShowRunsWhileTheBoxIsUp)
{
    ScriptedDialogs dialogs;
    dialogs.answer(MessageAnswer::Yes);
    QString seenText;
    qsizetype pendingWhileShown = -1;
    dialogs.setOnShow([&](const ShownMessage& m) {
        seenText = m.text;
        pendingWhileShown = dialogs.pendingAnswers();
    });
    EXPECT_EQ(
        dialogs.show(MessageStyle::StopQuestion, u"Остановить парсерсер?"_s), MessageAnswer::Yes);
    EXPECT_EQ(seenText, u"Остановить парсерсер?"_s);
    EXPECT_EQ(pendingWhileShown, 1);
}

} // namespace
} // namespace zp::test
