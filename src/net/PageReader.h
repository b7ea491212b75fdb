#pragma once

#include <QByteArray>
#include <QString>

namespace zp {

// Reads one page of the catalogue site. PageFetcher implements it over HTTP;
// crawler tests serve pages from a table.
class PageReader {
public:
    virtual ~PageReader() = default;

    // The complete body of the page when the server answered with the reason
    // phrase "OK" within timeoutSeconds; otherwise (time-out, any other
    // status, network failure, stop request) an empty array.
    virtual QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) = 0;

    // Why the last ReadHTML gave nothing, in a few words ("404", "нет ответа
    // за 60 с"); empty when it gave a page or the reader does not say.
    virtual QString lastFailure() const { return {}; }
};

} // namespace zp
