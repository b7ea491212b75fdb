#pragma once

#include "net/PageReader.h"
#include "net/PendingPage.h"
#include "net/RequestPacing.h"
#include "net/RetryPolicy.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <deque>
#include <memory>

namespace zp {

class StopFlag;

// The run's page engine. Reads pages ahead of the caller: the caller says
// which pages it will ask for next (expect), and the prefetcher has up to
// `connections` of them under way at once, so that the page asked for is
// usually there already; with one connection the next page is read while
// the caller works on the last one. ReadHTML hands out exactly what a
// one-at-a-time reader would: the body of the page at url when it arrived
// within its time-out, otherwise empty. A page that failed while it was read
// ahead is requested again when it is asked for, so that only a failure at
// that moment is reported (after an outage, the pages read ahead during it
// do not fail one by one); asking again after a failure requests it anew.
//
// Throttling: an answer by which the server asks to slow down (429, 503,
// Retry-After) pauses every new request to the shop for as long as the
// retry policy says (the server's Retry-After, capped, or the back-off), and
// the page is tried again on its own, up to the policy's throttle retries,
// before it counts as failed. The requests under way are bounded by the
// host's concurrency, which halves on every throttling answer and grows
// back after successes, and from the first throttling answer on their starts
// are spaced by the rate the host was seen to allow (RequestPacing). The
// throttled handler hears of every such answer.
//
// Bounds: only the first windowPages() expected pages (2 × connections)
// start requests; a page pushed behind that window by pages expected later
// keeps what it has or is fetching (the page asked for may then wait for its
// connection: a request abandoned would cost the shop another). At most kMaxExpected addresses are
// kept; the farthest ones beyond that are forgotten and read when asked for. The pages ahead of the
// one asked for (all pages, between two questions) hold at most
// kMaxAheadBytes between them: past that the
// farthest one that holds anything is abandoned and read only when it is
// asked for (large pages are not read ahead). Never more than the host's
// concurrency limit (at most `connections`) requests are under way, the one
// the caller waits for included.
//
// Asking for a page that is not the next expected one passes over the
// expected pages in front of it (they are abandoned); asking for one that is
// not expected at all requests it first and leaves the expectations as they
// are. A stop abandons everything at once and answers empty.
//
// The wait is an event loop woken by the pages and by the stop flag. The
// source and the stop flag must outlive the prefetcher.
class PagePrefetcher final : public PageReader {
public:
    static constexpr int kMaxExpected = kMaxExpectedPages;
    static constexpr qint64 kMaxAheadBytes = 32LL * 1024 * 1024;

    // throttling: the retries of throttled pages; its passing retries are
    // not used here (the caller decides on passing faults).
    PagePrefetcher(PageSource& source, const StopFlag& stop, int connections, int timeoutSeconds,
        RetryPolicy throttling = RetryPolicy(0));
    ~PagePrefetcher() override;

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override;
    bool readsAhead() const override { return true; }
    ReplyVerdict lastVerdict() const override { return m_lastVerdict; }
    void setThrottledHandler(ThrottledHandler handler) override
    {
        m_throttled = std::move(handler);
    }
    void expect(const QStringList& urls) override;
    void forgetExpected() override;

    int windowPages() const { return 2 * m_connections; }
    // How many requests may be under way now.
    int concurrencyLimit() const { return m_concurrency.limit(); }

private:
    struct Entry {
        QString url;
        QString body; // sent with the request
        int timeoutSeconds = 0;
        std::unique_ptr<PendingPage> page; // null: not requested yet
        bool onlyWhenAsked = false; // too large to be read ahead
        bool failedAhead = false; // requested again only when asked for
        RetryPolicy::Tries tries {};
    };

    void schedule();
    // Waits until the first expected page is done or a stop is asked for.
    void waitForFront();
    void onPageFinished(const PendingPage* page);
    // Counts a finished request's answer: the host's concurrency, the
    // throttled handler, a retry of a throttled page after a pause, and a
    // failure ahead kept for when the page is asked for.
    void judge(Entry& entry, bool asked);
    // No new request before delay has passed.
    void pauseFor(std::chrono::milliseconds delay);
    // Abandons pages ahead, farthest first, until they hold at most
    // kMaxAheadBytes.
    void keepWithinBytes();
    // Connects a new request's signals.
    void watch(PendingPage& page);
    int underWay() const;
    static void release(Entry& entry);

    PageSource& m_source;
    const StopFlag& m_stop;
    const int m_connections;
    const int m_timeoutSeconds;
    const RetryPolicy m_throttling;
    HostConcurrency m_concurrency;
    RequestPacing m_pacing;
    QDeadlineTimer m_pause; // expired: requests may start
    std::deque<Entry> m_expected; // in the order the caller will ask
    QEventLoop* m_waiting = nullptr; // the caller's wait for the front entry
    bool m_asked = false; // the front entry is the page the caller asked for
    ReplyVerdict m_lastVerdict;
    ThrottledHandler m_throttled;
    QObject m_receiver; // the receiving end of the pages', the stop's and the timer's signals
    QTimer m_pauseEnd;
};

} // namespace zp
