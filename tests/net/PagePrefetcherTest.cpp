#include "net/PagePrefetcher.h"

#include "util/StopFlag.h"

#include <QCoreApplication>
#include <QHash>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

class FakePageSource;

// One answer of FakePageSource: a body, or a failure judged as kind (an
// empty body alone is a fault that may pass).
struct Answer {
    Answer(QByteArray body = {})
        : body(std::move(body))
        , kind(this->body.isEmpty() ? ReplyVerdict::Kind::Passing : ReplyVerdict::Kind::Success)
    {
    }
    Answer(const char* body)
        : Answer(QByteArray(body))
    {
    }
    static Answer throttled(std::chrono::milliseconds retryAfter)
    {
        Answer answer;
        answer.kind = ReplyVerdict::Kind::Throttled;
        answer.retryAfter = retryAfter;
        return answer;
    }

    QByteArray body;
    ReplyVerdict::Kind kind;
    std::optional<std::chrono::milliseconds> retryAfter;
};

// A request of FakePageSource: answers on the next pass of the event loop
// unless its source holds answers back.
class FakePendingPage final : public PendingPage {
public:
    FakePendingPage(FakePageSource& source, Answer answer)
        : m_source(source)
        , m_body(std::move(answer.body))
        , m_verdict { answer.kind,
            answer.kind == ReplyVerdict::Kind::Success ? QString() : u"down"_s, answer.retryAfter }
    {
    }
    ~FakePendingPage() override;

    bool isDone() const override { return m_done; }
    QByteArray takeBody() override;
    ReplyVerdict verdict() const override { return m_verdict; }
    void abandon() override;
    qint64 heldBytes() const override { return m_done && !m_abandoned ? m_body.size() : 0; }
    void answer();

private:
    FakePageSource& m_source;
    QByteArray m_body;
    ReplyVerdict m_verdict;
    bool m_done = false;
    bool m_abandoned = false;
    bool m_counted = true; // still counts as held by the prefetcher
    friend class FakePageSource;
};

// Serves pages from a table (url -> answers used one per request, the last
// repeating; an empty body is a failed page) and counts what the
// prefetcher holds: requests under way and pages answered but not taken.
// While the shop is down, every request fails.
class FakePageSource final : public PageSource {
public:
    // The pages a prefetcher let go of (deleteLater) report to their source
    // when deleted: they go now, not in a later test's event loop.
    ~FakePageSource() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void setAnswers(const QString& url, QList<Answer> answers) { m_answers[url] = answers; }
    void holdAnswers(bool hold) { m_hold = hold; }
    void setDown(bool down) { m_down = down; }
    void answerAll()
    {
        const QList<FakePendingPage*> live = m_live; // answers start further requests
        for (FakePendingPage* page : live)
            page->answer();
    }

    std::unique_ptr<PendingPage> start(const QString& url, const QString&, int) override
    {
        requested.append(url);
        QList<Answer>& answers = m_answers[url];
        const Answer answer = answers.isEmpty()
            ? Answer()
            : (answers.size() > 1 ? answers.takeFirst() : answers.first());
        auto page = std::make_unique<FakePendingPage>(*this, m_down ? Answer() : answer);
        m_live.append(page.get());
        ++held;
        maxHeld = std::max(maxHeld, held);
        maxUnderWay = std::max(maxUnderWay, underWay());
        if (!m_hold)
            QTimer::singleShot(0, page.get(), [p = page.get()] { p->answer(); });
        return page;
    }

    qint64 heldBytes() const
    {
        qint64 bytes = 0;
        for (const FakePendingPage* page : m_live)
            bytes += page->m_counted ? page->heldBytes() : 0;
        return bytes;
    }

    int underWay() const
    {
        return static_cast<int>(std::count_if(m_live.begin(), m_live.end(),
            [](const FakePendingPage* p) { return !p->m_done && !p->m_abandoned; }));
    }
    void uncount(FakePendingPage& page)
    {
        if (std::exchange(page.m_counted, false))
            --held;
    }
    void forget(FakePendingPage* page) { m_live.removeOne(page); }

    QStringList requested;
    int held = 0;
    int maxHeld = 0;
    int maxUnderWay = 0;
    int abandoned = 0;
    qint64 maxHeldBytes = 0; // once the prefetcher has seen each answer

private:
    QHash<QString, QList<Answer>> m_answers;
    QList<FakePendingPage*> m_live;
    bool m_hold = false;
    bool m_down = false;
};

void FakePendingPage::answer()
{
    if (m_done || m_abandoned)
        return;
    m_done = true;
    Q_EMIT finished();
    m_source.maxHeldBytes = std::max(m_source.maxHeldBytes, m_source.heldBytes());
}

FakePendingPage::~FakePendingPage()
{
    m_source.uncount(*this);
    m_source.forget(this);
}

QByteArray FakePendingPage::takeBody()
{
    m_source.uncount(*this);
    return std::exchange(m_body, QByteArray());
}

void FakePendingPage::abandon()
{
    if (!m_done && !m_abandoned)
        ++m_source.abandoned;
    m_abandoned = true;
    m_source.uncount(*this);
}

QString page(int i)
{
    return u"http://shop.example/p%1"_s.arg(i);
}

class PagePrefetcherTest : public ::testing::TestWithParam<int> {
protected:
    QByteArray read(const QString& url) { return prefetcher.ReadHTML(url, QString(), 60); }
    void serve(int count)
    {
        for (int i = 0; i < count; ++i)
            source.setAnswers(page(i), { "body " + QByteArray::number(i) });
    }

    StopFlag stop;
    FakePageSource source;
    PagePrefetcher prefetcher { source, stop, GetParam(), 60,
        RetryPolicy(
            0, [] { return 0.5; }, std::chrono::milliseconds(1)) };
};

TEST_P(PagePrefetcherTest, PagesComeInOrderWithinTheBounds)
{
    const int connections = GetParam();
    serve(40);
    QStringList urls;
    for (int i = 0; i < 40; ++i)
        urls.append(page(i));
    prefetcher.expect(urls);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(read(page(i)), "body " + QByteArray::number(i));
    EXPECT_TRUE(source.requested == urls) << source.requested.join(u' ').toStdString();
    EXPECT_LE(source.maxUnderWay, connections);
    EXPECT_LE(source.maxHeld, 2 * connections);
    EXPECT_EQ(source.held, 0);
    if (connections > 1) {
        EXPECT_GT(source.maxUnderWay, 1); // pages really overlap
    }
}

TEST_P(PagePrefetcherTest, PagesAnnouncedLaterComeFirst)
{
    serve(6);
    prefetcher.expect({ page(0), page(4), page(5) });
    EXPECT_EQ(read(page(0)), "body 0");
    prefetcher.expect({ page(1), page(2), page(3) });
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(read(page(i)), "body " + QByteArray::number(i));
    // Pages pushed out of the window may be requested twice, never skipped.
    EXPECT_TRUE(source.requested.startsWith(page(0)));
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(source.requested.contains(page(i)));
}

TEST_P(PagePrefetcherTest, PagePushedBehindTheWindowKeepsItsBody)
{
    serve(10);
    prefetcher.expect({ page(0), page(9) });
    EXPECT_EQ(read(page(0)), "body 0");
    QCoreApplication::processEvents(); // page 9 arrives
    prefetcher.expect({ page(1), page(2), page(3), page(4), page(5), page(6), page(7), page(8) });
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(read(page(i)), "body " + QByteArray::number(i));
    EXPECT_EQ(source.requested.count(page(9)), 1);
}

// A page that failed while it was read ahead is requested again when it is
// asked for; only a failure at that moment is reported, and asking again
// requests it anew.
TEST_P(PagePrefetcherTest, FailedPageAheadIsRequestedAgainWhenAskedFor)
{
    serve(4);
    source.setAnswers(page(1), { QByteArray(), "body 1" });
    source.holdAnswers(true);
    prefetcher.expect({ page(0), page(1), page(2), page(3) });
    source.holdAnswers(false);
    source.answerAll();
    EXPECT_EQ(read(page(0)), "body 0");
    EXPECT_EQ(read(page(1)), GetParam() > 1 ? "body 1" : "");
    if (GetParam() == 1) { // page 1 was not read ahead: it failed when asked for
        EXPECT_EQ(read(page(1)), "body 1");
    }
    EXPECT_EQ(read(page(2)), "body 2");
    EXPECT_EQ(source.requested.count(page(1)), 2);
}

// The shop goes away for a while: the pages read ahead during the outage
// fail, but only the page the caller waits for is reported, once; when it is
// back, every page comes without a further failure.
TEST_P(PagePrefetcherTest, AnOutageIsReportedOnce)
{
    serve(80);
    QStringList urls;
    for (int i = 0; i < 80; ++i)
        urls.append(page(i));
    prefetcher.expect(urls);
    int reported = 0;
    for (int i = 0; i < 80; ++i) {
        if (i == 40) // beyond what the widest window read at the start
            source.setDown(true);
        QByteArray body = read(page(i));
        while (body.isEmpty() && reported < 10) {
            ++reported; // the question; the user answers once the shop is back
            source.setDown(false);
            body = read(page(i));
        }
        EXPECT_EQ(body, "body " + QByteArray::number(i));
    }
    EXPECT_EQ(reported, 1);
}

// Throttled pages, ahead or asked for, are tried again on their own after
// the wait; the host's concurrency halves and grows back after successes.
TEST_P(PagePrefetcherTest, ThrottledPagesAreRetriedWithoutAFailure)
{
    const int connections = GetParam();
    serve(40);
    const Answer slowDown = Answer::throttled(std::chrono::milliseconds(2));
    source.setAnswers(page(0), { slowDown, "body 0" });
    source.setAnswers(page(3), { slowDown, slowDown, "body 3" });
    QStringList urls;
    for (int i = 0; i < 40; ++i)
        urls.append(page(i));
    QStringList throttled;
    QList<int> limits;
    prefetcher.setThrottledHandler([&](const QString& url, const ReplyVerdict&) {
        throttled.append(url);
        limits.append(prefetcher.concurrencyLimit());
    });
    prefetcher.expect(urls);

    EXPECT_EQ(read(page(0)), "body 0");
    for (int i = 1; i < 40; ++i)
        EXPECT_EQ(read(page(i)), "body " + QByteArray::number(i));
    EXPECT_EQ(throttled, (QStringList { page(0), page(3), page(3) }));
    EXPECT_EQ(limits.value(0), std::max(1, connections / 2));
    EXPECT_EQ(source.requested.count(page(3)), 3);
    EXPECT_LE(source.maxUnderWay, connections);
    if (connections > 1) {
        EXPECT_GT(prefetcher.concurrencyLimit(), 1); // grown back
    }
}

TEST_P(PagePrefetcherTest, UnexpectedPageLeavesTheExpectationsAlone)
{
    serve(4);
    source.setAnswers(u"http://shop.example/other"_s, { "other" });
    prefetcher.expect({ page(0), page(1) });
    EXPECT_EQ(read(u"http://shop.example/other"_s), "other");
    EXPECT_EQ(read(page(0)), "body 0");
    EXPECT_EQ(read(page(1)), "body 1");
    EXPECT_EQ(source.requested.count(page(0)), 1);
}

TEST_P(PagePrefetcherTest, PassedOverPagesAreAbandoned)
{
    serve(8);
    source.holdAnswers(true);
    prefetcher.expect({ page(0), page(1), page(2), page(3) });
    source.holdAnswers(false);
    QTimer::singleShot(0, [this] { source.answerAll(); });
    EXPECT_EQ(read(page(3)), "body 3");
    EXPECT_EQ(source.held, 0);
}

TEST_P(PagePrefetcherTest, LargePagesAheadAreDroppedAndReadWhenAskedFor)
{
    const QByteArray large(20 * 1024 * 1024, 'x');
    serve(8);
    for (int i = 1; i <= 5; ++i)
        source.setAnswers(page(i), { large + QByteArray::number(i) });
    QStringList urls;
    for (int i = 0; i < 8; ++i)
        urls.append(page(i));
    prefetcher.expect(urls);
    for (int i = 0; i < 8; ++i) {
        const QByteArray body = read(page(i));
        EXPECT_TRUE(body.endsWith(QByteArray::number(i))) << i;
        EXPECT_EQ(body.size() > large.size(), i >= 1 && i <= 5) << i;
    }
    // Besides the page asked for, the pages ahead stay within the bound.
    EXPECT_LE(source.maxHeldBytes, PagePrefetcher::kMaxAheadBytes + large.size() + 1);
    EXPECT_EQ(source.held, 0);
    if (GetParam() > 2) {
        EXPECT_GT(source.requested.size(), 8); // some were dropped and read again
    }
}

TEST_P(PagePrefetcherTest, StopAbandonsEverythingUnderWay)
{
    serve(20);
    source.holdAnswers(true);
    QStringList urls;
    for (int i = 0; i < 20; ++i)
        urls.append(page(i));
    prefetcher.expect(urls);
    QTimer::singleShot(10, &stop, [this] { stop.set(); });
    EXPECT_TRUE(read(page(0)).isEmpty());
    EXPECT_EQ(source.underWay(), 0);
    EXPECT_EQ(source.held, 0);
    EXPECT_EQ(source.abandoned, std::min(GetParam(), 20));
    // Asked again while the stop stands: nothing is requested.
    const qsizetype before = source.requested.size();
    EXPECT_TRUE(read(page(1)).isEmpty());
    EXPECT_EQ(source.requested.size(), before);
}

INSTANTIATE_TEST_SUITE_P(Connections, PagePrefetcherTest, ::testing::Values(1, 2, 6, 16));

} // namespace
} // namespace zp
