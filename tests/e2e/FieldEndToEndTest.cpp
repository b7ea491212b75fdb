// Whole runs against a real web server: the demo shop behind nginx over
// HTTPS (HTTP/2, gzip, a request-rate limit) and behind tinyproxy as an
// office proxy, all on loopback (tools/field-shop/field_shop.py).

#include "WorkbookRows.h"
#include "run/RunState.h"
#include "scrape/FakeRunView.h"
#include "session/RunSession.h"
#include "support/DemoShop.h"
#include "support/FieldShop.h"
#include "support/ScriptedDialogs.h"
#include "workbook/ExternalTools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

const QStringList kDemo { u"--products"_s, u"30"_s, u"--seed"_s, u"3"_s, u"--depth"_s, u"2"_s };

struct RunResult {
    RunOutcome outcome = RunOutcome::NotRun;
    std::vector<ShownMessage> shown;
    QStringList warnings;
    qint64 elapsedMs = 0;
    QStringList reasons; // given with the message boxes
};

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : m_name(name)
        , m_old(qgetenv(name))
        , m_had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnvironment()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

class FieldEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ExternalTools::python().isEmpty())
            GTEST_SKIP() << "python3 with openpyxl is not installed (scripts/install-deps)";
        // Missing servers are an install fault, not a reason to pass.
        ASSERT_FALSE(QStandardPaths::findExecutable(u"nginx"_s, { u"/usr/sbin"_s }).isEmpty())
            << "nginx is not installed (scripts/install-deps installs nginx-light)";
        ASSERT_FALSE(QStandardPaths::findExecutable(u"tinyproxy"_s, { u"/usr/bin"_s }).isEmpty())
            << "tinyproxy is not installed (scripts/install-deps installs it)";
    }

    static FieldShop::Options options(const QString& cert = u"good"_s)
    {
        FieldShop::Options o;
        o.cert = cert;
        o.demo = kDemo;
        return o;
    }

    // One run in folder, answering the final report and the questions queued.
    static RunResult run(const QString& catalog, const QString& image, const QString& folder,
        const ShopAccess& access, int connections, const std::vector<MessageAnswer>& answers)
    {
        RunState state;
        FakeRunView view;
        ScriptedDialogs dialogs;
        for (const MessageAnswer a : answers)
            dialogs.answer(a);
        RunSettings settings { catalog, image, folder, connections };
        settings.access = access;
        RunSession session(state, view, dialogs, settings, Answerer::Nobody, [](const QString&) {});
        QElapsedTimer timer;
        timer.start();
        session.Command1_Click();
        return { session.lastOutcome(), dialogs.shown(), view.warnings + view.notLoaded,
            timer.elapsed(), dialogs.reasons() };
    }

    static std::vector<MessageAnswer> reportOnly() { return { MessageAnswer::Ok }; }

    static RunResult runThrough(const FieldShop& shop, const QString& folder, int connections = 6)
    {
        ShopAccess access;
        access.extraCaCertificates = shop.certificateAuthority();
        return run(
            shop.catalogBaseUrl(), shop.imageBaseUrl(), folder, access, connections, reportOnly());
    }

    // Every cell of the sheet, with the shop's origin written as "<shop>".
    static QStringList cells(const QString& folder, const QString& catalog)
    {
        const auto rows = WorkbookRows::read(folder + u"/Zavrinello.xlsx"_s);
        EXPECT_TRUE(rows.has_value());
        EXPECT_EQ(ExternalTools::xlsxProblems(folder + u"/Zavrinello.xlsx"_s), QStringList());
        QStringList all;
        if (!rows)
            return all;
        all << rows->header().join(u'|');
        for (int p = 0; p < rows->productCount(); ++p)
            for (int c = 1; c <= rows->header().size(); ++c) {
                const SheetCell cell = rows->cell(p, c);
                all << cell.text + u" -> "_s + QString(cell.link).replace(catalog, u"<shop>"_s);
            }
        return all;
    }

    static QMap<QString, QByteArray> pictures(const QString& folder)
    {
        QMap<QString, QByteArray> hashes;
        const QDir images(folder + u"/Images"_s);
        for (const QString& name : images.entryList(QDir::Files)) {
            QFile file(images.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                hashes.insert(
                    name, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256));
        }
        return hashes;
    }

    QTemporaryDir m_plain;
    QTemporaryDir m_field;
};

TEST_F(FieldEndToEnd, HttpsThroughNginxGivesTheWorkbookAndPicturesOfPlainHttp)
{
    DemoShop plainShop;
    DemoShop::Options plainOptions;
    plainOptions.products = 30;
    plainOptions.seed = 3;
    plainOptions.depth = 2;
    ASSERT_TRUE(plainShop.start(plainOptions));
    const RunResult plain = run(
        plainShop.catalogBaseUrl(), plainShop.imageBaseUrl(), m_plain.path(), {}, 6, reportOnly());
    ASSERT_EQ(plain.outcome, RunOutcome::Completed);

    FieldShop shop;
    ASSERT_TRUE(shop.start(options()));
    const RunResult field = runThrough(shop, m_field.path());
    EXPECT_EQ(field.outcome, RunOutcome::Completed);
    EXPECT_EQ(field.warnings, QStringList());

    EXPECT_EQ(cells(m_field.path(), shop.catalogBaseUrl()),
        cells(m_plain.path(), plainShop.catalogBaseUrl()));
    EXPECT_EQ(pictures(m_field.path()), pictures(m_plain.path()));
    EXPECT_FALSE(pictures(m_field.path()).isEmpty());

    // nginx offered HTTP/2; the program keeps to HTTP/1.1, and lost nothing
    // to the connections nginx closes after 50 requests.
    const QStringList log = shop.accessLog();
    ASSERT_GT(log.size(), 50);
    for (const QString& line : log)
        EXPECT_TRUE(line.startsWith(u"HTTP/1.1 200 "_s)) << line.toStdString();
}

// A certificate the program does not accept ends the run at once, with the
// host and the reason; nothing is waited out and nothing is written.
TEST_F(FieldEndToEnd, RefusedCertificatesFailAtOnceWithTheirReason)
{
    for (const QString& cert : { u"self-signed"_s, u"expired"_s, u"wrong-name"_s }) {
        SCOPED_TRACE(cert.toStdString());
        FieldShop shop;
        ASSERT_TRUE(shop.start(options(cert)));
        QTemporaryDir folder;
        const RunResult result = run(shop.catalogBaseUrl(), shop.imageBaseUrl(), folder.path(),
            [&shop] {
                ShopAccess access;
                access.extraCaCertificates = shop.certificateAuthority();
                return access;
            }(),
            6, { MessageAnswer::Ok });
        EXPECT_EQ(result.outcome, RunOutcome::NoSiteAccess);
        EXPECT_LT(result.elapsedMs, 2000);
        ASSERT_EQ(result.warnings.size(), 1);
        const QString host = QUrl(shop.catalogBaseUrl()).host();
        EXPECT_TRUE(result.warnings.at(0).contains(host)) << result.warnings.at(0).toStdString();
        EXPECT_TRUE(result.warnings.at(0).contains(u"SSL"_s)
            || result.warnings.at(0).contains(u"TLS"_s)
            || result.warnings.at(0).contains(u"сертификат"_s, Qt::CaseInsensitive))
            << result.warnings.at(0).toStdString();
        // The window's message names them too.
        EXPECT_EQ(result.shown.size(), 1u);
        EXPECT_EQ(result.reasons, QStringList { result.warnings.at(0).section(u": "_s, 1, -1) });
        EXPECT_FALSE(QFile::exists(folder.filePath(u"Zavrinello.xlsx"_s)));
        EXPECT_TRUE(shop.accessLog().isEmpty()) << shop.accessLog().join(u'\n').toStdString();
    }
}

// The office proxy: with http_proxy and https_proxy set, every connection to
// the shop goes through it; no_proxy sends the shop's host past it.
TEST_F(FieldEndToEnd, SystemProxyCarriesEveryRequestUnlessNoProxyNamesTheHost)
{
    FieldShop::Options o = options();
    o.proxy = true;
    FieldShop shop;
    ASSERT_TRUE(shop.start(o));
    {
        ScopedEnvironment http("http_proxy", shop.proxyUrl().toUtf8());
        ScopedEnvironment https("https_proxy", shop.proxyUrl().toUtf8());
        ScopedEnvironment none("no_proxy", "example.invalid");
        const RunResult result = runThrough(shop, m_field.path());
        EXPECT_EQ(result.outcome, RunOutcome::Completed);
    }
    const auto tunnels = [&shop] {
        int count = 0;
        for (const QString& line : shop.proxyLog())
            count += line.startsWith(u"CONNECT"_s) && line.contains(u"Established connection"_s);
        return count;
    };
    const int throughProxy = tunnels();
    EXPECT_GT(throughProxy, 0);
    EXPECT_GT(shop.accessLog().size(), 30); // the whole catalogue came through it

    QTemporaryDir direct;
    {
        ScopedEnvironment http("http_proxy", shop.proxyUrl().toUtf8());
        ScopedEnvironment https("https_proxy", shop.proxyUrl().toUtf8());
        ScopedEnvironment none("no_proxy", "127.0.0.1");
        const RunResult result = runThrough(shop, direct.path());
        EXPECT_EQ(result.outcome, RunOutcome::Completed);
    }
    EXPECT_EQ(tunnels(), throughProxy);
}

// A proxy that asks for a name and a password: the credentials written in
// its address are used; without them the run fails at once, naming the
// proxy's demand.
TEST_F(FieldEndToEnd, ProxyCredentialsComeFromItsAddress)
{
    FieldShop::Options o = options();
    o.proxy = true;
    o.proxyCredentials = u"toimisto:salasana"_s;
    FieldShop shop;
    ASSERT_TRUE(shop.start(o));
    QUrl withCredentials(shop.proxyUrl());
    withCredentials.setUserName(u"toimisto"_s);
    withCredentials.setPassword(u"salasana"_s);
    {
        ScopedEnvironment https("https_proxy", withCredentials.toEncoded());
        ScopedEnvironment none("no_proxy", "example.invalid");
        EXPECT_EQ(runThrough(shop, m_field.path()).outcome, RunOutcome::Completed);
    }
    QTemporaryDir refused;
    {
        ScopedEnvironment https("https_proxy", shop.proxyUrl().toUtf8());
        ScopedEnvironment none("no_proxy", "example.invalid");
        const RunResult result = runThrough(shop, refused.path());
        EXPECT_EQ(result.outcome, RunOutcome::NoSiteAccess);
        EXPECT_LT(result.elapsedMs, 2000);
        ASSERT_EQ(result.warnings.size(), 1);
        EXPECT_TRUE(result.warnings.at(0).contains(u"407"_s))
            << result.warnings.at(0).toStdString();
    }
}

} // namespace
} // namespace zp::test
