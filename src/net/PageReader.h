#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zp {

// Reads one page of the catalogue site. PageFetcher implements it over HTTP;
// crawler tests serve pages from a table.
class PageReader {
public:
    // A reader keeps at most this many expected addresses; more need not be
    // announced at once.
    static constexpr int kMaxExpectedPages = 4096;

    virtual ~PageReader() = default;

    // The complete body of the page when the server answered with the reason
    // phrase "OK" within timeoutSeconds; otherwise (time-out, any other
    // status, network failure, stop request) an empty array.
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
    // Why the last ReadHTML gave nothing, in a few words ("404", "нет ответа
    // за 60 с"); empty when it gave a page or the reader does not say.
    virtual QString lastFailure() const { return {}; }
};

} // namespace zp
