#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace zp::test {

// The demo shop (tools/demo-shop/demo_shop.py) run by a test on a free
// loopback port. Stops the server when destroyed.
class DemoShop {
public:
    struct Options {
        int products = 24;
        int depth = 2;
        int seed = 7;
        int latencyMs = 0;
        int newProducts = 0;
        QStringList extra; // further command-line options
        int port = 0; // 0: a free one
    };

    ~DemoShop();

    // Starts the shop and waits (at most 20 s) until it listens.
    bool start(const Options& options);
    void stop();

    int port() const { return m_port; }
    QString catalogBaseUrl() const;
    QString imageBaseUrl() const;

    // The products the shop with these options serves (--print-manifest).
    static QJsonArray manifest(const Options& options);

private:
    static QStringList arguments(const Options& options);

    QProcess m_process;
    int m_port = 0;
};

// Starts a server process whose first line on standard output says it
// listens, and returns that line (empty when none came within timeoutMs).
// Its standard error goes to the test's; it is ended with the test binary.
QByteArray StartServer(QProcess& process, int timeoutMs);

// Runs python3 with a script file and arguments; returns its standard output,
// or an empty array when it failed (its standard error goes to the test log).
QByteArray RunPython(const QString& script, const QStringList& arguments, int timeoutMs = 120000);

} // namespace zp::test
