#include "support/DemoShop.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace zp::test {

namespace {
QString demoShopScript()
{
    return QStringLiteral(ZP_SOURCE_DIR "/tools/demo-shop/demo_shop.py");
}
} // namespace

QByteArray StartServer(QProcess& process, int timeoutMs)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
    // A test binary that crashes must not leave its servers holding ports.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    process.start();

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
        if (process.canReadLine())
            loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    if (!process.canReadLine())
        loop.exec();
    return process.readLine();
}

DemoShop::~DemoShop()
{
    stop();
}

QStringList DemoShop::arguments(const Options& options)
{
    QStringList args { demoShopScript(), u"--products"_s, QString::number(options.products),
        u"--depth"_s, QString::number(options.depth), u"--seed"_s, QString::number(options.seed),
        u"--latency-ms"_s, QString::number(options.latencyMs), u"--new-products"_s,
        QString::number(options.newProducts) };
    return args + options.extra;
}

bool DemoShop::start(const Options& options)
{
    m_process.setProgram(u"python3"_s);
    m_process.setArguments(
        arguments(options) + QStringList { u"--port"_s, QString::number(options.port) });
    // The shop prints its port as the first line once it listens.
    const QByteArray firstLine = StartServer(m_process, 20000);
    bool ok = false;
    m_port = firstLine.trimmed().toInt(&ok);
    return ok && m_port > 0;
}

void DemoShop::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

QString DemoShop::catalogBaseUrl() const
{
    return u"http://127.0.0.1:"_s + QString::number(m_port);
}

QString DemoShop::imageBaseUrl() const
{
    return catalogBaseUrl() + u"/picture"_s;
}

QJsonArray DemoShop::manifest(const Options& options)
{
    QStringList args = arguments(options);
    const QString script = args.takeFirst();
    const QByteArray json = RunPython(script, args + QStringList { u"--print-manifest"_s });
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (doc.isArray())
        return doc.array();
    return doc.object().value(u"products"_s).toArray();
}

QByteArray RunPython(const QString& script, const QStringList& arguments, int timeoutMs)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(u"python3"_s, QStringList { script } + arguments);
    if (!python.waitForFinished(timeoutMs) || python.exitStatus() != QProcess::NormalExit
        || python.exitCode() != 0) {
        ADD_FAILURE() << "python3 " << script.toStdString() << " failed";
        return {};
    }
    return python.readAllStandardOutput();
}

} // namespace zp::test
