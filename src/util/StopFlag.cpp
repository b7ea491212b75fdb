#include "util/StopFlag.h"

#include <QEventLoop>
#include <QTimer>

namespace zp {

void StopFlag::set()
{
    m_set = true;
    Q_EMIT raised();
}

bool WaitUnlessStopped(std::chrono::milliseconds delay, const StopFlag& stop)
{
    if (stop.isSet())
        return false;
    QEventLoop loop;
    QTimer::singleShot(delay, &loop, &QEventLoop::quit);
    QObject::connect(&stop, &StopFlag::raised, &loop, &QEventLoop::quit);
    loop.exec();
    return !stop.isSet();
}

} // namespace zp
