#include "support/FieldShop.h"

#include "support/DemoShop.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

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
    const QJsonObject ready = QJsonDocument::fromJson(StartServer(m_process, 60000)).object();
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
