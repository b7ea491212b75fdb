#include "net/PagePrefetcher.h"

#include "util/StopFlag.h"

#include <algorithm>

namespace zp {

PagePrefetcher::PagePrefetcher(PageSource& source, const StopFlag& stop, int connections,
    int timeoutSeconds, RetryPolicy throttling)
    : m_source(source)
    , m_stop(stop)
    , m_connections(std::max(connections, 1))
    , m_timeoutSeconds(timeoutSeconds)
    , m_throttling(std::move(throttling))
    , m_concurrency(m_connections)
{
    QObject::connect(&m_stop, &StopFlag::raised, &m_receiver, [this] { forgetExpected(); });
    m_pauseEnd.setSingleShot(true);
    m_pauseEnd.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pauseEnd, &QTimer::timeout, &m_receiver, [this] { schedule(); });
}

PagePrefetcher::~PagePrefetcher()
{
    QObject::disconnect(&m_stop, nullptr, &m_receiver, nullptr);
    forgetExpected();
}

QByteArray PagePrefetcher::ReadHTML(const QString& url, const QString& body, int timeoutSeconds)
{
    m_lastVerdict = { ReplyVerdict::Kind::Success, QString(), std::nullopt };
    if (m_stop.isSet()) {
        forgetExpected();
        return {};
    }
    const auto found = body.isEmpty() ? std::find_if(m_expected.begin(), m_expected.end(),
                           [&url](const Entry& entry) { return entry.url == url; })
                                      : m_expected.end();
    if (found != m_expected.end()) {
        std::for_each(m_expected.begin(), found, &PagePrefetcher::release);
        m_expected.erase(m_expected.begin(), found);
    } else {
        m_expected.push_front(Entry { url, body, timeoutSeconds, nullptr });
    }
    if (Entry& asked = m_expected.front(); asked.failedAhead) {
        asked.failedAhead = false;
        asked.tries = {}; // asked for now: its own tries again
    }
    m_asked = true;
    schedule();
    waitForFront();
    if (m_stop.isSet()) {
        forgetExpected();
        return {};
    }
    Entry front = std::move(m_expected.front());
    m_expected.pop_front();
    m_asked = false;
    const QByteArray page = front.page->takeBody();
    m_lastVerdict = front.page->verdict();
    if (page.isEmpty() && m_lastVerdict.kind == ReplyVerdict::Kind::Success)
        m_lastVerdict.kind = ReplyVerdict::Kind::Final; // an empty page: nothing to wait for
    release(front);
    schedule();
    return page;
}

void PagePrefetcher::waitForFront()
{
    const Entry& front = m_expected.front();
    if (front.page && front.page->isDone())
        return;
    QEventLoop loop;
    QObject::connect(&m_stop, &StopFlag::raised, &loop, &QEventLoop::quit);
    m_waiting = &loop;
    loop.exec();
    m_waiting = nullptr;
}

void PagePrefetcher::expect(const QStringList& urls)
{
    if (m_stop.isSet())
        return;
    for (auto url = urls.crbegin(); url != urls.crend(); ++url)
        m_expected.push_front(Entry { *url, QString(), m_timeoutSeconds, nullptr });
    while (m_expected.size() > static_cast<size_t>(kMaxExpected)) {
        release(m_expected.back());
        m_expected.pop_back();
    }
    schedule();
}

void PagePrefetcher::forgetExpected()
{
    std::for_each(m_expected.begin(), m_expected.end(), &PagePrefetcher::release);
    m_expected.clear();
    m_asked = false;
    if (m_waiting)
        m_waiting->quit();
}

void PagePrefetcher::release(Entry& entry)
{
    if (!entry.page)
        return;
    entry.page->abandon();
    // Not deleted here: it may be the sender of the signal being handled.
    entry.page.release()->deleteLater();
}

int PagePrefetcher::underWay() const
{
    return static_cast<int>(std::count_if(m_expected.begin(), m_expected.end(),
        [](const Entry& entry) { return entry.page && !entry.page->isDone(); }));
}

void PagePrefetcher::schedule()
{
    if (!m_pause.hasExpired()) {
        m_pauseEnd.start(std::chrono::milliseconds(m_pause.remainingTime()));
        return;
    }
    // Pages pushed behind the window by later expectations keep what they
    // hold or are fetching (within kMaxAheadBytes): abandoning a request
    // would only spend another one of the shop's requests on it later. Only
    // the window starts new requests.
    const size_t window = std::min(m_expected.size(), static_cast<size_t>(windowPages()));
    int free = m_concurrency.limit() - underWay();
    for (size_t i = 0; i < window && free > 0; ++i) {
        Entry& entry = m_expected[i];
        if (entry.page || entry.failedAhead || (entry.onlyWhenAsked && !(i == 0 && m_asked)))
            continue;
        const RequestPacing::Clock::time_point now = RequestPacing::Clock::now();
        if (const std::chrono::milliseconds wait = m_pacing.waitBeforeNext(now); wait.count() > 0) {
            m_pauseEnd.start(wait);
            return;
        }
        m_pacing.onStarted(now);
        entry.page = m_source.start(entry.url, entry.body, entry.timeoutSeconds);
        watch(*entry.page);
        --free;
    }
}

void PagePrefetcher::watch(PendingPage& page)
{
    QObject::connect(&page, &PendingPage::finished, &m_receiver,
        [this, finished = &page] { onPageFinished(finished); });
    QObject::connect(&page, &PendingPage::grew, &m_receiver, [this] { keepWithinBytes(); });
}

void PagePrefetcher::keepWithinBytes()
{
    // The page the caller waits for is bounded by its own cap alone.
    const size_t first = m_asked ? 1 : 0;
    qint64 held = 0;
    for (size_t i = first; i < m_expected.size(); ++i)
        held += m_expected[i].page ? m_expected[i].page->heldBytes() : 0;
    bool dropped = false;
    // Called for every piece of every page: the sum is taken once.
    for (size_t i = m_expected.size(); i > first && held > kMaxAheadBytes; --i) {
        Entry& entry = m_expected[i - 1];
        const qint64 bytes = entry.page ? entry.page->heldBytes() : 0;
        if (bytes == 0)
            continue;
        release(entry);
        entry.onlyWhenAsked = true;
        held -= bytes;
        dropped = true;
    }
    if (dropped)
        schedule();
}

void PagePrefetcher::onPageFinished(const PendingPage* page)
{
    const auto entry = std::find_if(m_expected.begin(), m_expected.end(),
        [page](const Entry& e) { return e.page.get() == page; });
    if (entry != m_expected.end())
        judge(*entry, m_asked && entry == m_expected.begin());
    keepWithinBytes();
    schedule();
    if (m_waiting && !m_expected.empty() && m_expected.front().page
        && m_expected.front().page->isDone())
        m_waiting->quit();
}

void PagePrefetcher::judge(Entry& entry, bool asked)
{
    const ReplyVerdict verdict = entry.page->verdict();
    switch (verdict.kind) {
    case ReplyVerdict::Kind::Success:
        m_concurrency.onSuccess();
        m_pacing.onSuccess(RequestPacing::Clock::now());
        return;
    case ReplyVerdict::Kind::Throttled:
        m_concurrency.onThrottled();
        m_pacing.onThrottled(RequestPacing::Clock::now());
        if (m_throttled)
            m_throttled(entry.url, verdict);
        break;
    case ReplyVerdict::Kind::Passing:
    case ReplyVerdict::Kind::Final:
        break;
    }
    if (const auto delay = m_throttling.nextTry(entry.tries, verdict)) {
        release(entry);
        pauseFor(*delay);
    } else if (!asked) {
        release(entry);
        entry.failedAhead = true;
    }
}

void PagePrefetcher::pauseFor(std::chrono::milliseconds delay)
{
    if (m_pause.hasExpired() || m_pause.remainingTimeAsDuration() < delay)
        m_pause = QDeadlineTimer(delay, Qt::PreciseTimer);
}

} // namespace zp
