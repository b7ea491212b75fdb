#pragma once

#include "net/ReplyVerdict.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

namespace zp {

// A page request under way. finished() is emitted once, when the page has
// arrived or has failed for good; until then the request may be abandoned.
class PendingPage : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isDone() const = 0;
    // The page's body when it arrived ("OK" within the time-out); empty when
    // it failed or is not done.
    virtual QByteArray takeBody() = 0;
    // Why the page could not be had, in a few words ("404"); empty when it
    // arrived or the request does not say.
    virtual QString failure() const { return {}; }
    // How the answer was judged, once done; Final with failure() as the
    // reason when the request does not say more.
    virtual ReplyVerdict verdict() const
    {
        return { isDone() && failure().isEmpty() ? ReplyVerdict::Kind::Success
                                                 : ReplyVerdict::Kind::Final,
            failure(), std::nullopt };
    }
    // Aborts the transfer at once; finished() is not emitted any more.
    virtual void abandon() = 0;
    // The bytes of the page held so far, received or done.
    virtual qint64 heldBytes() const { return 0; }

Q_SIGNALS:
    void finished();
    // More of the page arrived (heldBytes() grew).
    void grew();
};

// Starts page requests; each request runs on its own until it finishes or
// is abandoned. The requests of one source may run at the same time.
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual std::unique_ptr<PendingPage> start(
        const QString& url, const QString& body, int timeoutSeconds)
        = 0;
};

} // namespace zp
