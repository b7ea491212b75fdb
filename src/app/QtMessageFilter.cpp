#include "app/QtMessageFilter.h"

#include <QtGlobal>

namespace zp {

namespace {

QtMessageHandler qtHandler = nullptr;

[[maybe_unused]] void filterQtMessage(
    QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if ((type == QtCriticalMsg || type == QtFatalMsg) && qtHandler)
        qtHandler(type, context, text);
}

} // namespace

void KeepQtNotesOffStandardError()
{
#ifdef QT_NO_DEBUG
    qtHandler = qInstallMessageHandler(filterQtMessage);
#endif
}

} // namespace zp
