// The pieces of a run without a window: the terminal output, the terminal's
// stand-ins for the labels and message boxes, and the exit statuses.

#include "headless/HeadlessRun.h"
#include "headless/TerminalOutput.h"
#include "headless/TerminalRunView.h"
#include "run/RunState.h"
#include "scrape/FakeClock.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

// A temporary file standing in for standard output; text() reads back all
// that was written.
class CapturedOutput {
public:
    CapturedOutput()
        : m_file(std::tmpfile(), &std::fclose)
    {
    }

    std::FILE* file() const { return m_file.get(); }

    QString text() const
    {
        std::fflush(m_file.get());
        std::rewind(m_file.get());
        QByteArray bytes;
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, m_file.get())) > 0)
            bytes.append(buffer, qsizetype(got));
        return QString::fromUtf8(bytes);
    }

private:
    std::unique_ptr<std::FILE, decltype(&std::fclose)> m_file;
};

// A pipe whose write end the test feeds.
class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe(m_fds), 0); }
    ~Pipe()
    {
        closeWriteEnd();
        ::close(m_fds[0]);
    }

    int readEnd() const { return m_fds[0]; }
    void write(const QByteArray& bytes)
    {
        ASSERT_EQ(::write(m_fds[1], bytes.constData(), std::size_t(bytes.size())), bytes.size());
    }
    void closeWriteEnd()
    {
        if (m_fds[1] >= 0)
            ::close(m_fds[1]);
        m_fds[1] = -1;
    }
    QByteArray pending() // what is still unread, without waiting
    {
        closeWriteEnd();
        QByteArray rest;
        char buffer[256];
        ssize_t got = 0;
        while ((got = ::read(m_fds[0], buffer, sizeof buffer)) > 0)
            rest.append(buffer, got);
        return rest;
    }

private:
    int m_fds[2] = { -1, -1 };
};

// --- exit statuses ----------------------------------------------------------

TEST(ExitStatusFor, EveryOutcome)
{
    const std::pair<RunOutcome, int> expected[] = {
        { RunOutcome::Completed, 0 },
        { RunOutcome::CompletedWithGaps, 4 },
        { RunOutcome::Stopped, 3 },
        { RunOutcome::NoSiteAccess, 1 },
        { RunOutcome::WorkbookUnusable, 1 },
        { RunOutcome::NotRun, 1 },
    };
    for (const auto& [outcome, status] : expected)
        EXPECT_EQ(ExitStatusFor(outcome), status) << int(outcome);
}

// --- terminal output --------------------------------------------------------

TEST(TerminalOutput, PlainOutputWritesWholeLinesWithoutControlCharacters)
{
    CapturedOutput captured;
    TerminalOutput out(captured.file(), false);
    out.progress(u"1 новых"_s);
    out.progress(u"2 новых"_s);
    out.line(u"Загрузка закончена."_s);
    EXPECT_EQ(captured.text(), u"1 новых\n2 новых\nЗагрузка закончена.\n"_s);
}

TEST(TerminalOutput, LiveOutputRedrawsTheProgressLineAndEndsItBeforeALine)
{
    CapturedOutput captured;
    TerminalOutput out(captured.file(), true);
    out.progress(u"1 новых"_s);
    out.progress(u"2 новых"_s);
    out.line(u"Парсер остановлен."_s);
    out.line(u"Файл: /x"_s);
    out.progress(u"3"_s);
    EXPECT_EQ(captured.text(),
        u"\r\x1b[K1 новых\r\x1b[K2 новых\nПарсер остановлен.\nФайл: /x\n\r\x1b[K3"_s);
}

TEST(TerminalOutput, LiveProgressLosesItsMiddleToFitTheTerminal)
{
    CapturedOutput captured;
    TerminalOutput out(captured.file(), true);
    // Not a terminal: the usual 80 columns, one left free.
    EXPECT_EQ(TerminalColumns(captured.file()), 80);
    out.progress(QString(79, u'ä'));
    out.progress(QString(100, u'a') + QString(100, u'ö'));
    EXPECT_EQ(captured.text(),
        u"\r\x1b[K"_s + QString(79, u'ä') + u"\r\x1b[K"_s + QString(39, u'a') + u"…"_s
            + QString(39, u'ö'));
}

TEST(TerminalOutput, ShopTextCannotMoveTheCursorRetitleOrForgeALine)
{
    const QString hostile
        = u"ZV-1\x1b]0;owned\x07\x1b[31m\r\x1b[2K\nБыло загружено 999 новых товаров.\u009b2J\t\x7f"_s;
    const QString shown
        = u"ZV-1\uFFFD]0;owned\uFFFD\uFFFD[31m\uFFFD\uFFFD[2K\uFFFDБыло загружено 999 новых товаров.\uFFFD2J\uFFFD\uFFFD"_s;
    for (const bool live : { false, true }) {
        CapturedOutput captured;
        TerminalOutput out(captured.file(), live);
        out.progress(hostile);
        out.line(u"Первая строка\nвторая "_s + hostile);
        // A whole line keeps its line feeds, and nothing else.
        const QString lineShown = QString(shown).replace(u"\uFFFDБыло"_s, u"\nБыло"_s);
        const QString expectedProgress = live ? u"\r\x1b[K"_s + shown : shown;
        EXPECT_EQ(
            captured.text(), expectedProgress + u"\nПервая строка\nвторая "_s + lineShown + u"\n"_s)
            << live;
    }
}

TEST(TerminalOutput, AFileIsNoTerminal)
{
    CapturedOutput captured;
    EXPECT_FALSE(IsTerminal(captured.file()));
}

// --- the labels -------------------------------------------------------------

class TerminalRunViewTest : public ::testing::Test {
protected:
    TerminalRunViewTest()
    {
        m_state.StartTime = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0));
        m_clock.set(m_state.StartTime.addSecs(90));
    }

    // What the crawl does for one product written.
    void writeProduct(TerminalRunView& view, const QString& orderNumber)
    {
        view.setStatusText(u"Zavrinello/Sahat/"_s + orderNumber + u".png..."_s);
        view.setStatusText(u"Zavrinello/Sahat/"_s + orderNumber + u"..."_s);
        ++m_state.NewCount;
        view.setElapsedText(u"00:01:30"_s);
        view.setCounterText(QString::number(view.counterText().toInt() + 1));
    }

    RunState m_state;
    FakeClock m_clock;
    CapturedOutput m_captured;
};

TEST_F(TerminalRunViewTest, PlainOutputHasOneLinePerProductWritten)
{
    TerminalOutput out(m_captured.file(), false);
    TerminalRunView view(m_state, m_clock, out);
    view.setStatusText(u"Подключение к Excel"_s);
    view.setStatusText(u"Открытие файла Excel ..."_s);
    view.setCounterText(u"12"_s); // the rows already in the workbook
    view.setStatusText(u"Уже загружен ZV-1..."_s);
    view.setElapsedText(u"00:00:10"_s);
    writeProduct(view, u"ZV-2"_s);
    view.setStatusText(u"Уже загружен ZV-3..."_s);
    writeProduct(view, u"ZV-4"_s);
    view.setStatusText(QString());

    EXPECT_EQ(m_captured.text(),
        u"1 новых | 00:01:30 | 0.7 в мин | Zavrinello/Sahat/ZV-2...\n"
        "2 новых | 00:01:30 | 1.3 в мин | Zavrinello/Sahat/ZV-4...\n"_s);
    EXPECT_EQ(view.counterText(), u"14"_s);
}

TEST_F(TerminalRunViewTest, LiveOutputRedrawsAtEveryChange)
{
    TerminalOutput out(m_captured.file(), true);
    TerminalRunView view(m_state, m_clock, out);
    view.setStatusText(u"Уже загружен ZV-1..."_s);
    writeProduct(view, u"ZV-2"_s);
    const QString text = m_captured.text();
    EXPECT_EQ(text.count(u"\r\x1b[K"_s), 4) << text.toStdString();
    EXPECT_TRUE(
        text.endsWith(u"\r\x1b[K1 новых | 00:01:30 | 0.7 в мин | Zavrinello/Sahat/ZV-2..."_s))
        << text.toStdString();
    EXPECT_FALSE(text.contains(u'\n'));
}

// --- message boxes ----------------------------------------------------------

TEST(TerminalDialogs, MessagesArePrintedWithTheCarriageReturnAsLineBreak)
{
    CapturedOutput captured;
    TerminalOutput out(captured.file(), false);
    TerminalDialogs dialogs(out, -1);
    EXPECT_EQ(dialogs.show(MessageStyle::Failure, u"Парсер остановлен."_s), MessageAnswer::Ok);
    EXPECT_EQ(dialogs.show(
                  MessageStyle::Report, u"Загрузка закончена.\rБыло загружено 3 новых товаров."_s),
        MessageAnswer::Ok);
    EXPECT_EQ(captured.text(),
        u"Парсер остановлен.\nЗагрузка закончена.\nБыло загружено 3 новых товаров.\n"_s);
}

TEST(TerminalDialogs, WithoutTerminalInputQuestionsAreAnsweredNo)
{
    CapturedOutput captured;
    TerminalOutput out(captured.file(), true);
    TerminalDialogs dialogs(out, -1);
    out.progress(u"5 новых"_s);
    EXPECT_EQ(
        dialogs.show(MessageStyle::RetryPrompt, u"Нет доступа к сайту.\rПопробовать еще раз?"_s),
        MessageAnswer::No);
    EXPECT_EQ(
        dialogs.show(MessageStyle::StopQuestion, u"Остановить парсерсер?"_s), MessageAnswer::No);
    EXPECT_EQ(
        dialogs.show(MessageStyle::Question, u"Файл открыт.\rПродолжить?"_s), MessageAnswer::No);
    EXPECT_EQ(captured.text(),
        u"\r\x1b[K5 новых\nНет доступа к сайту.\nПопробовать еще раз? [y/N] n\n"
        "Остановить парсерсер? [y/N] n\nФайл открыт.\nПродолжить? [y/N] n\n"_s);
}

TEST(TerminalDialogs, AnswersAreReadOneLineAtATime)
{
    Pipe input;
    input.write("y\n  Да \nno\nyes\n\nд\nrest");
    CapturedOutput captured;
    TerminalOutput out(captured.file(), false);
    TerminalDialogs dialogs(out, input.readEnd());
    const MessageAnswer expected[] = { MessageAnswer::Yes, MessageAnswer::Yes, MessageAnswer::No,
        MessageAnswer::Yes, MessageAnswer::No, MessageAnswer::Yes };
    for (const MessageAnswer answer : expected)
        EXPECT_EQ(dialogs.show(MessageStyle::RetryPrompt, u"a\rb"_s), answer);
    EXPECT_EQ(input.pending(), QByteArray("rest"));
    EXPECT_EQ(captured.text(), QString(u"a\nb [y/N]\n"_s).repeated(6));
}

TEST(TerminalDialogs, EndOfInputIsNo)
{
    Pipe input;
    input.write("y");
    input.closeWriteEnd();
    CapturedOutput captured;
    TerminalOutput out(captured.file(), false);
    TerminalDialogs dialogs(out, input.readEnd());
    EXPECT_EQ(dialogs.show(MessageStyle::RetryPrompt, u"?"_s), MessageAnswer::No);
    EXPECT_EQ(captured.text(), u"? [y/N]\n\n"_s);
}

TEST(TerminalDialogs, ASignalWhileWaitingAnswersNoAndIsLeftForTheEventLoop)
{
    Pipe input; // the user types nothing
    Pipe signals;
    signals.write(QByteArray(1, '\1'));
    CapturedOutput captured;
    TerminalOutput out(captured.file(), false);
    TerminalDialogs dialogs(out, input.readEnd(), signals.readEnd());
    EXPECT_EQ(dialogs.show(MessageStyle::RetryPrompt, u"?"_s), MessageAnswer::No);
    EXPECT_EQ(signals.pending(), QByteArray(1, '\1'));
}

} // namespace
} // namespace zp::test
