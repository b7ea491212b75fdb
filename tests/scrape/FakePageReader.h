#pragma once

#include "net/PageReader.h"
#include "util/StopFlag.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>
#include <utility>

namespace zp::test {

// Serves pages from a table: url -> one body, or a sequence of bodies used one
// per request (the last one repeats). Unknown addresses answer empty, as a
// failed fetch does. Like the real reader, it answers empty at once when the
// watched stop flag is already set; onFetch runs inside a request, where a
// test can press Stop while the page is "loading".
class FakePageReader : public PageReader {
public:
    struct Request {
        QString url;
        QString body;
        int timeoutSeconds;
    };

    void setPage(const QString& url, const QByteArray& body) { m_answers.insert(url, { body }); }
    void setPage(const QString& url, const QString& text) { setPage(url, text.toUtf8()); }
    void setAnswers(const QString& url, const QList<QByteArray>& bodies)
    {
        m_answers.insert(url, bodies);
    }
    void watchStopFlag(const StopFlag* flag) { m_stop = flag; }
    // How every failure is judged (by default as one that may pass).
    void setFailureKind(ReplyVerdict::Kind kind) { m_failureKind = kind; }
    ReplyVerdict lastVerdict() const override { return { m_failureKind, QString(), std::nullopt }; }
    void setOnFetch(std::function<void(const QString& url)> hook) { m_onFetch = std::move(hook); }

    QByteArray ReadHTML(const QString& url, const QString& body, int timeoutSeconds) override
    {
        m_requests.append({ url, body, timeoutSeconds });
        if (m_stop && m_stop->isSet())
            return {};
        if (m_onFetch)
            m_onFetch(url);
        auto it = m_answers.find(url);
        if (it == m_answers.end() || it->isEmpty())
            return {};
        return it->size() > 1 ? it->takeFirst() : it->first();
    }

    void setReadsAhead(bool readsAhead) { m_readsAhead = readsAhead; }
    bool readsAhead() const override { return m_readsAhead; }
    void expect(const QStringList& urls) override { m_expectations.append(urls); }
    void forgetExpected() override { m_expectations.append(QStringList { u"-forget-"_qs }); }

    // Every expect() call's list, and "-forget-" for every forgetExpected().
    const QList<QStringList>& expectations() const { return m_expectations; }
    const QList<Request>& requests() const { return m_requests; }
    QStringList requestedUrls() const
    {
        QStringList urls;
        for (const Request& r : m_requests)
            urls.append(r.url);
        return urls;
    }

private:
    QHash<QString, QList<QByteArray>> m_answers;
    QList<Request> m_requests;
    QList<QStringList> m_expectations;
    bool m_readsAhead = false;
    ReplyVerdict::Kind m_failureKind = ReplyVerdict::Kind::Passing;
    const StopFlag* m_stop = nullptr;
    std::function<void(const QString&)> m_onFetch;
};

} // namespace zp::test
