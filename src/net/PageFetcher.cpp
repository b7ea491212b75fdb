#include "net/PageFetcher.h"

#include "net/PageRequest.h"
#include "util/StopFlag.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp {

PageFetcher::PageFetcher(QNetworkAccessManager& manager, const StopFlag& stop, ShopAccess access)
    : m_manager(manager)
    , m_stop(stop)
    , m_access(std::move(access))
{
}

QByteArray PageFetcher::ReadHTML(const QString& url, const QString& body, int timeoutSeconds)
{
    m_lastFailure.clear();
    auto request = std::make_unique<PageRequest>(m_manager, url, body, timeoutSeconds, m_access);
    if (m_stop.isSet() || timeoutSeconds <= 0) {
        QCoreApplication::processEvents();
        if (request->outcome() == PageRequest::Outcome::Body)
            return request->takeBody();
        m_lastFailure = request->failure();
        // One pass of events does not get the request onto the wire; it is
        // still sent, and left to end by itself.
        request.release()->detach();
        return {};
    }
    QEventLoop loop;
    QObject::connect(request.get(), &PageRequest::finished, &loop, &QEventLoop::quit);
    QObject::connect(&m_stop, &StopFlag::raised, &loop, &QEventLoop::quit);
    loop.exec();
    if (request->outcome() == PageRequest::Outcome::Body)
        return request->takeBody();
    m_lastFailure = request->isDone() ? request->failure() : QString();
    return {};
}

} // namespace zp
