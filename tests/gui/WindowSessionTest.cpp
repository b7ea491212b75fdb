// The window driving whole runs against the demo shop: clicks on Command1,
// the captions and labels the user watches during a run, a second click
// asking to stop, and closing the window during a run and while idle. Message
// boxes are scripted; the hand-over to the spreadsheet application is
// recorded; the workbook is read back through openpyxl.

#include "gui/WindowSession.h"

#include "e2e/WorkbookRows.h"
#include "gui/Form1.h"
#include "support/DemoShop.h"
#include "support/ScriptedDialogs.h"
#include "workbook/ExternalTools.h"
#include "workbook/WorkbookLayout.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

QString reportText(int newProducts)
{
    return u"Загрузка закончена.\rБыло загружено "_s + QString::number(newProducts)
        + u" новых товаров."_s;
}

const ShownMessage StopQuestion { MessageStyle::StopQuestion, u"Остановить парсерсер?"_s };
const ShownMessage StoppedNotice { MessageStyle::Failure, u"Парсер остановлен."_s };
const ShownMessage RetryQuestion { MessageStyle::RetryPrompt,
    u"Нет доступа к сайту.\rПопробовать еще раз?"_s };

// Watches the window while a run goes on: a timer of 0 ms fires at every
// pass of every event loop the run goes through (page waits, its yields after
// every product), so that it sees each counter value even when the pages were
// read ahead; it keeps each new caption and counter value, and runs a test's
// action once, the first time the counter shows a given value or more; that
// is how a user's click or close during the run is simulated.
class WindowWatch {
public:
    explicit WindowWatch(Form1& window)
        : m_window(window)
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, &m_window, [this] { sample(); });
        m_timer.start();
    }

    void whenCounterShows(const QString& counter, std::function<void()> action)
    {
        m_trigger = counter;
        m_action = std::move(action);
    }

    const QStringList& counters() const { return m_counters; }
    const QStringList& captions() const { return m_captions; }
    const QStringList& elapsedTexts() const { return m_elapsed; }

private:
    void sample()
    {
        keepChange(m_counters, label(u"Label2"_s));
        keepChange(m_elapsed, label(u"Label1"_s));
        keepChange(m_captions, m_window.findChild<QPushButton*>(u"Command1"_s)->text());
        if (m_action && m_counters.constLast().toInt() >= m_trigger.toInt())
            std::exchange(m_action, {})();
    }

    QString label(const QString& name) const { return m_window.findChild<QLabel*>(name)->text(); }

    static void keepChange(QStringList& values, const QString& value)
    {
        if (values.isEmpty() || values.constLast() != value)
            values << value;
    }

    Form1& m_window;
    QTimer m_timer;
    QStringList m_counters;
    QStringList m_captions;
    QStringList m_elapsed;
    QString m_trigger;
    std::function<void()> m_action;
};

class WindowSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ExternalTools::python().isEmpty())
            GTEST_SKIP()
                << "python3 with openpyxl is not installed (scripts/install-deps installs it)";
        ASSERT_TRUE(m_folder.isValid());
        m_window = std::make_unique<Form1>();
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void TearDown() override
    {
        m_session.reset();
        m_window.reset();
    }

    // A shop slow enough (a few ms per request) that the run waits in its
    // event loops, where the watch and the simulated user act.
    // connections 1: the run waits for every page, so the watch sees every
    // counter value.
    // unattended: the failed-page policy the settings give, that of a run
    // nobody answers.
    void startShop(int products = 12, int connections = RunNetwork::kDefaultConnections,
        FailedPagePolicy unattended = {})
    {
        DemoShop::Options& options = m_shopOptions;
        options.products = products;
        options.latencyMs = 5;
        m_productCount = int(DemoShop::manifest(options).size());
        ASSERT_GT(m_productCount, 6);
        ASSERT_TRUE(m_shop.start(options));
        options.port = m_shop.port(); // a restart comes back on the same address
        m_session = std::make_unique<WindowSession>(
            *m_window,
            RunSettings { m_shop.catalogBaseUrl(), m_shop.imageBaseUrl(), m_folder.path(),
                connections, unattended },
            [this](const QString& path) { m_handedOver << path; }, &m_dialogs);
    }

    QPushButton* command1() const { return m_window->findChild<QPushButton*>(u"Command1"_s); }
    QString label(const char* name) const
    {
        return m_window->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }

    void clickCommand1() { QTest::mouseClick(command1(), Qt::LeftButton); }

    int storedRows() const
    {
        const auto rows = WorkbookRows::read(workbookPath());
        EXPECT_TRUE(rows.has_value()) << "openpyxl could not read " << workbookPath().toStdString();
        return rows ? rows->productCount() : -1;
    }

    QString workbookPath() const { return m_folder.filePath(WorkbookLayout::FileName); }

    void expectIdle() const
    {
        EXPECT_FALSE(m_window->runState().IsRunning);
        EXPECT_FALSE(m_window->runState().StopRequested.isSet());
        EXPECT_EQ(command1()->text(), u"Старт"_s);
    }

    // Counter values from "1" (the header row) up to the header plus count.
    static QStringList counterRun(int count)
    {
        QStringList values;
        for (int i = 0; i <= count; ++i)
            values << QString::number(1 + i);
        return values;
    }

    QTemporaryDir m_folder;
    DemoShop m_shop;
    DemoShop::Options m_shopOptions;
    int m_productCount = 0;
    ScriptedDialogs m_dialogs;
    QStringList m_handedOver;
    std::unique_ptr<Form1> m_window;
    std::unique_ptr<WindowSession> m_session;
};

TEST_F(WindowSessionTest, ClickWhileIdlePerformsAWholeRunAndShowsItsProgress)
{
    startShop(12, 1);
    WindowWatch watch(*m_window);
    QString captionAtReport;
    m_dialogs.setOnShow([&](const ShownMessage&) { captionAtReport = command1()->text(); });
    m_dialogs.answer(MessageAnswer::Ok);

    clickCommand1();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Report, reportText(m_productCount) } }));
    EXPECT_EQ(captionAtReport, u"Стоп"_s);
    EXPECT_EQ(watch.captions(), QStringList { u"Стоп"_s });
    expectIdle();
    // "0" from the window's creation until the workbook is open, then the
    // last used row: the header alone, and one more per product written.
    EXPECT_EQ(watch.counters(), QStringList { u"0"_s } + counterRun(m_productCount));
    EXPECT_EQ(label("Label2"), QString::number(m_productCount + 1));
    EXPECT_EQ(label("lblCV"), QString());
    const QRegularExpression hhnnss(u"^\\d\\d:\\d\\d:\\d\\d$"_s);
    for (const QString& elapsed : watch.elapsedTexts() + QStringList { label("Label1") })
        EXPECT_TRUE(hhnnss.match(elapsed).hasMatch()) << elapsed.toStdString();
    EXPECT_EQ(storedRows(), m_productCount);
    EXPECT_EQ(m_handedOver, QStringList { workbookPath() });
    EXPECT_TRUE(m_window->isVisible());
}

TEST_F(WindowSessionTest, WorkbookHoldingOnlyTheHeaderRowShowsOneAtTheStart)
{
    {
        const auto book = WorkbookLayout::create(m_folder.path());
        ASSERT_TRUE(book) << book.error().toStdString();
    }
    startShop();
    m_window->setCounterText(u"57"_s); // what an earlier run left
    WindowWatch watch(*m_window);
    m_dialogs.answer(MessageAnswer::Ok);

    clickCommand1();

    ASSERT_GE(watch.counters().size(), 2);
    EXPECT_EQ(watch.counters().at(0), u"57"_s);
    EXPECT_EQ(watch.counters().at(1), u"1"_s);
    EXPECT_EQ(storedRows(), m_productCount);
}

TEST_F(WindowSessionTest, SecondRunStartsTheCounterAtTheLastStoredRow)
{
    startShop();
    m_dialogs.answer(MessageAnswer::Ok);
    clickCommand1();
    WindowWatch watch(*m_window);
    m_dialogs.answer(MessageAnswer::Ok);

    clickCommand1();

    EXPECT_EQ(m_dialogs.shown().back(), (ShownMessage { MessageStyle::Report, reportText(0) }));
    EXPECT_EQ(watch.counters(), QStringList { QString::number(m_productCount + 1) });
    EXPECT_EQ(storedRows(), m_productCount);
    expectIdle();
}

// A second click on Command1, or a close of the window, while the third
// product's row is done: both ask the same question.
struct StopAnswerCase {
    const char* name;
    bool byClosing;
    MessageAnswer answer;
};

class StopQuestionTest : public WindowSessionTest,
                         public ::testing::WithParamInterface<StopAnswerCase> { };

TEST_P(StopQuestionTest, ClickOrCloseDuringTheRunOnlyAsksWhetherToStop)
{
    const StopAnswerCase& c = GetParam();
    startShop(12, 1);
    WindowWatch watch(*m_window);
    bool closedAtOnce = false;
    watch.whenCounterShows(u"4"_s, [&] {
        if (c.byClosing)
            closedAtOnce = m_window->close();
        else
            clickCommand1();
    });
    bool visibleAtReport = false;
    m_dialogs.setOnShow([&](const ShownMessage&) { visibleAtReport = m_window->isVisible(); });
    const bool stop = c.answer == MessageAnswer::Yes;
    m_dialogs.answer(c.answer).answer(MessageAnswer::Ok);
    if (stop)
        m_dialogs.answer(MessageAnswer::Ok);

    clickCommand1();

    const int written = m_window->runState().NewCount;
    std::vector<ShownMessage> expected { StopQuestion };
    if (stop) {
        expected.push_back(StoppedNotice);
        EXPECT_GE(written, 3);
        EXPECT_LT(written, m_productCount);
    } else {
        EXPECT_EQ(written, m_productCount);
    }
    expected.push_back({ MessageStyle::Report, reportText(written) });
    EXPECT_EQ(m_dialogs.shown(), expected);
    EXPECT_EQ(m_dialogs.pendingAnswers(), 0);
    EXPECT_EQ(watch.captions(), QStringList { u"Стоп"_s }) << "the question must not end the run";
    EXPECT_EQ(watch.counters(), QStringList { u"0"_s } + counterRun(written));
    EXPECT_EQ(storedRows(), written);
    EXPECT_EQ(m_handedOver, QStringList { workbookPath() });
    EXPECT_FALSE(closedAtOnce);
    EXPECT_TRUE(visibleAtReport);
    // A confirmed close closes the window once the run has reported.
    EXPECT_EQ(m_window->isVisible(), !(c.byClosing && stop));
    expectIdle();
}

INSTANTIATE_TEST_SUITE_P(Answers, StopQuestionTest,
    ::testing::Values(StopAnswerCase { "ClickNo", false, MessageAnswer::No },
        StopAnswerCase { "ClickYes", false, MessageAnswer::Yes },
        StopAnswerCase { "CloseNo", true, MessageAnswer::No },
        StopAnswerCase { "CloseYes", true, MessageAnswer::Yes }),
    [](const auto& info) { return std::string(info.param.name); });

// The shop goes away for a moment while pages are read ahead: the user is
// asked once, answers Yes once it is back, and the pages that failed ahead
// during the outage are read again without a further question.
TEST_F(WindowSessionTest, AnOutageAsksOnceAndYesGoesOnToTheEnd)
{
    startShop(40, RunNetwork::kDefaultConnections);
    WindowWatch watch(*m_window);
    watch.whenCounterShows(u"4"_s, [this] { m_shop.stop(); });
    bool restarted = false;
    m_dialogs.setOnShow([&](const ShownMessage& shown) {
        if (shown.style == MessageStyle::RetryPrompt && !restarted)
            restarted = m_shop.start(m_shopOptions);
    });
    m_dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok);

    clickCommand1();

    EXPECT_TRUE(restarted);
    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            RetryQuestion, { MessageStyle::Report, reportText(m_productCount) } }));
    EXPECT_EQ(storedRows(), m_productCount);
    expectIdle();
}

// The window's user answers the retry question: it comes at once, whatever
// tries and skipping the settings hold for a run nobody answers, and No stops
// the run with the rows before the failing product saved.
TEST_F(WindowSessionTest, AFailingProductAsksAtOnceAndNoStopsTheRun)
{
    m_shopOptions.seed = 9;
    DemoShop::Options probe = m_shopOptions;
    probe.products = 20;
    const QString failing = DemoShop::manifest(probe).at(5)[u"path"_s].toString();
    ASSERT_FALSE(failing.isEmpty());
    m_shopOptions.extra = QStringList { u"--fail-path"_s, failing };
    FailedPagePolicy unattended;
    unattended.automaticRetries = 2;
    unattended.firstBackOff = std::chrono::milliseconds(1);
    unattended.skipFailedProducts = true;
    startShop(20, RunNetwork::kDefaultConnections, unattended);
    m_dialogs.answer(MessageAnswer::No).answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

    clickCommand1();

    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            RetryQuestion, StoppedNotice, { MessageStyle::Report, reportText(5) } }));
    EXPECT_EQ(storedRows(), 5);
    expectIdle();
}

TEST_F(WindowSessionTest, ClosingWhileIdleClosesAtOnce)
{
    startShop();

    EXPECT_TRUE(m_window->close());

    EXPECT_FALSE(m_window->isVisible());
    EXPECT_TRUE(m_dialogs.shown().empty());
    EXPECT_FALSE(QFile::exists(workbookPath()));
}

TEST_F(WindowSessionTest, ClosingAfterAConfirmedStopClosesWithoutAskingAgain)
{
    startShop(12, 1);
    WindowWatch watch(*m_window);
    bool closedAtOnce = true;
    watch.whenCounterShows(u"3"_s, [&] {
        clickCommand1();
        closedAtOnce = m_window->close();
    });
    m_dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

    clickCommand1();

    const int written = m_window->runState().NewCount;
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            StopQuestion, StoppedNotice, { MessageStyle::Report, reportText(written) } }));
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(storedRows(), written);
    expectIdle();
}

// A message box keeps the window from being closed by the user; should a
// close come through anyway, it asks nothing more: the window closes after
// the run, and the box's answer decides whether the run stops.
TEST_F(WindowSessionTest, ClosingWhileTheStopQuestionIsUpLeavesTheStopToItsAnswer)
{
    startShop(12, 1);
    WindowWatch watch(*m_window);
    watch.whenCounterShows(u"3"_s, [this] { clickCommand1(); });
    bool closedAtOnce = true;
    bool visibleAtReport = false;
    m_dialogs.setOnShow([&](const ShownMessage& shown) {
        if (shown == StopQuestion)
            closedAtOnce = m_window->close();
        else
            visibleAtReport = m_window->isVisible();
    });
    m_dialogs.answer(MessageAnswer::No).answer(MessageAnswer::Ok);

    clickCommand1();

    EXPECT_FALSE(closedAtOnce);
    EXPECT_TRUE(visibleAtReport);
    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> {
            StopQuestion, { MessageStyle::Report, reportText(m_productCount) } }));
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(storedRows(), m_productCount);
    expectIdle();
}

// Command1 is the default button: Enter starts a run wherever the focus is.
TEST_F(WindowSessionTest, EnterStartsARun)
{
    startShop();
    const struct {
        const char* name;
        QWidget* target;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } presses[] = { { "Return on the window", m_window.get(), Qt::Key_Return, Qt::NoModifier },
        { "keypad Enter on the window", m_window.get(), Qt::Key_Enter, Qt::KeypadModifier },
        { "Return on Command1", command1(), Qt::Key_Return, Qt::NoModifier } };
    for (const auto& press : presses) {
        SCOPED_TRACE(press.name);
        m_dialogs.clearShown();
        m_dialogs.answer(MessageAnswer::Ok);

        QTest::keyClick(press.target, press.key, press.modifiers);

        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown().front().style, MessageStyle::Report);
        expectIdle();
    }
    EXPECT_EQ(storedRows(), m_productCount);
    EXPECT_EQ(m_handedOver.size(), 3);
}

TEST_F(WindowSessionTest, ClosingWhileTheReportIsUpClosesAfterTheRunWithEveryRowSaved)
{
    startShop();
    bool closedAtOnce = true;
    m_dialogs.setOnShow([&](const ShownMessage&) { closedAtOnce = m_window->close(); });
    m_dialogs.answer(MessageAnswer::Ok);

    clickCommand1();

    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(m_dialogs.shown(),
        (std::vector<ShownMessage> { { MessageStyle::Report, reportText(m_productCount) } }));
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(storedRows(), m_productCount);
    expectIdle();
}

// The window shown again after it was closed during a run still keeps itself
// open through the next run.
TEST_F(WindowSessionTest, ClosingDuringALaterRunStillWaitsForThatRun)
{
    startShop(12, 1);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        bool closedAtOnce = true;
        bool visibleAtReport = false;
        m_dialogs.setOnShow([&](const ShownMessage& shown) {
            if (shown.style == MessageStyle::Report)
                visibleAtReport = m_window->isVisible();
        });
        WindowWatch watch(*m_window);
        // The first run stops after two products; the second finds them
        // stored and writes two more before the close.
        watch.whenCounterShows(
            QString::number(1 + 2 * run), [&] { closedAtOnce = m_window->close(); });
        m_dialogs.answer(MessageAnswer::Yes).answer(MessageAnswer::Ok).answer(MessageAnswer::Ok);

        clickCommand1();

        EXPECT_FALSE(closedAtOnce);
        EXPECT_TRUE(visibleAtReport);
        EXPECT_FALSE(m_window->isVisible());
        expectIdle();
    }
}

TEST_F(WindowSessionTest, WindowOutlivingItsSessionNeitherRunsNorRefusesToClose)
{
    startShop();
    m_session.reset();

    clickCommand1();

    EXPECT_TRUE(m_dialogs.shown().empty());
    EXPECT_EQ(command1()->text(), u"Старт"_s);
    EXPECT_TRUE(m_window->close());
}

} // namespace
} // namespace zp::test
