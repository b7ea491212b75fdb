#pragma once

#include "net/ReplyVerdict.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace zp {

// Reads one page of the catalogue site. PagePrefetcher implements it over
// HTTP; crawler tests serve pages from a table.
class PageReader {
public:
    // A reader keeps at most this many expected addresses; more need not be
    // announced at once.
    static constexpr int kMaxExpectedPages = 4096;

    virtual ~PageReader() = default;

    // Told of every answer by which the server asks to slow down.
    using ThrottledHandler = std::function<void(const QString& url, const ReplyVerdict& verdict)>;

    // The complete body of the page when the server answered 200 within
    // timeoutSeconds; otherwise (time-out, any other status, network
    // failure, stop request) an empty array.
    virtual QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) = 0;

    // Whether the reader fetches expected pages ahead; when not, the caller
    // need not work out which pages it will ask for.
    virtual bool readsAhead() const { return false; }
    // The pages the caller will ask for next, in the order it will ask; they
    // come before the pages expected earlier. A reader may fetch them ahead;
    // this one does not.
    virtual void expect(const QStringList& urls) { Q_UNUSED(urls); }
    // Drops every expectation, abandoning what was fetched ahead.
    virtual void forgetExpected() { }
    // How the answer behind the last empty ReadHTML was judged; its reason
    // says why in a few words ("404", "нет ответа за 60 с"). A reader that
    // does not say counts every failure as one that may pass.
    virtual ReplyVerdict lastVerdict() const
    {
        return { ReplyVerdict::Kind::Passing, QString(), std::nullopt };
    }
    QString lastFailure() const { return lastVerdict().reason; }
    // handler: called for every throttling answer from now on; empty to stop.
    virtual void setThrottledHandler(ThrottledHandler handler) { Q_UNUSED(handler); }
};

} // namespace zp
