#include "support/FieldShop.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace zp::test {

namespace {

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

FieldShop::~FieldShop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool FieldShop::start(const Options& options)
{
    QStringList arguments { QStringLiteral(ZP_SOURCE_DIR "/tools/field-shop/field_shop.py"),
        u"--cert"_s, options.cert, u"--rate"_s, QString::number(options.rate), u"--burst"_s,
        QString::number(options.burst) };
    if (options.retryAfter >= 0)
        arguments << u"--retry-after"_s << QString::number(options.retryAfter);
    if (options.proxy)
        arguments << u"--proxy"_s;
    if (!options.proxyCredentials.isEmpty())
        arguments << u"--proxy-credentials"_s << options.proxyCredentials;
    arguments << u"--"_s << options.demo;
    m_process.setProgram(u"/usr/bin/python3"_s);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_process.start();

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &loop, [&] {
        if (m_process.canReadLine())
            loop.quit();
    });
    QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
    deadline.start(60000);
    if (!m_process.canReadLine())
        loop.exec();
    const QJsonObject ready = QJsonDocument::fromJson(m_process.readLine()).object();
    m_catalog = ready.value(u"catalog"_s).toString();
    m_image = ready.value(u"image"_s).toString();
    m_proxy = ready.value(u"proxy"_s).toString();
    m_ca = ready.value(u"ca"_s).toString();
    m_accessLog = ready.value(u"access_log"_s).toString();
    m_proxyLog = ready.value(u"proxy_log"_s).toString();
    return !m_catalog.isEmpty();
}

QList<QSslCertificate> FieldShop::certificateAuthority() const
{
    return QSslCertificate::fromPath(m_ca);
}

QStringList FieldShop::accessLog() const
{
    return readLines(m_accessLog);
}

QStringList FieldShop::proxyLog() const
{
    return readLines(m_proxyLog);
}

} // namespace zp::test
