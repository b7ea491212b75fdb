#pragma once

#include "net/PageReader.h"
#include "net/PendingPage.h"

#include <QEventLoop>
#include <deque>
#include <memory>

namespace zp {

class StopFlag;

// Reads pages ahead of the caller: the caller says which pages it will ask
// for next (expect), and the prefetcher has up to `connections` of them
// under way at once, so that the page asked for is usually there already.
// ReadHTML hands out exactly what a one-at-a-time reader would: the body of
// the page at url when it arrived within its time-out, otherwise empty; a
// page that failed ahead is reported only when it is asked for, and asking
// again requests it anew.
//
// Bounds: only the first windowPages() expected pages (2 × connections)
// start requests; a page pushed behind that window by pages expected later
// keeps what it has or is fetching, unless the page asked for needs its
// connection. At most kMaxExpected addresses are kept; the farthest ones
// beyond that are forgotten and read when asked for. The pages ahead of the
// one asked for (all pages, between two questions) hold at most
// kMaxAheadBytes between them: past that the
// farthest one that holds anything is abandoned and read only when it is
// asked for (large pages are not read ahead). Never more than
// `connections` requests are under way, the one the caller waits for
// included.
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

    PagePrefetcher(PageSource& source, const StopFlag& stop, int connections, int timeoutSeconds);
    ~PagePrefetcher() override;

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override;
    bool readsAhead() const override { return true; }
    QString lastFailure() const override { return m_lastFailure; }
    void expect(const QStringList& urls) override;
    void forgetExpected() override;

    int windowPages() const { return 2 * m_connections; }

private:
    struct Entry {
        QString url;
        QString body; // sent with the request
        int timeoutSeconds = 0;
        std::unique_ptr<PendingPage> page; // null: not requested yet
        bool onlyWhenAsked = false; // too large to be read ahead
    };

    void schedule();
    // Waits until the first expected page is done or a stop is asked for.
    void waitForFront();
    void onPageFinished();
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
    std::deque<Entry> m_expected; // in the order the caller will ask
    QEventLoop* m_waiting = nullptr; // the caller's wait for the front entry
    bool m_asked = false; // the front entry is the page the caller asked for
    QString m_lastFailure;
    QObject m_receiver; // the receiving end of the pages' and the stop's signals
};

} // namespace zp
