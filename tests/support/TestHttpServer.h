#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace zp::test {

// An HTTP/1.1 server on 127.0.0.1 for tests and benchmarks, scripted per
// request target. It runs on the event loop of the thread it lives in: a test
// that calls blocking client code from the same thread (ReadHTML, DownloadFile)
// works because those calls wait in a local event loop, which also serves the
// server. A benchmark that measures the client's CPU time can move the server
// to a QThread of its own (construct it without parent, moveToThread, then call
// listen() in that thread, for instance through QMetaObject::invokeMethod with
// Qt::BlockingQueuedConnection).
//
// Usage:
//     TestHttpServer server;
//     ASSERT_TRUE(server.listen());
//     server.route("/page", TestHttpServer::Response::ok("<html>...</html>"));
//     server.route("/gone", TestHttpServer::Response::status(404, "Not Found", "nothing"));
//     TestHttpServer::Response slow = TestHttpServer::Response::ok("late");
//     slow.delay = std::chrono::milliseconds(500);
//     server.route("/slow", slow);
//     fetch(server.url("/page"));
//     EXPECT_EQ(server.requests().at(0).userAgent, "VB OpenUrl");
//
// Connections are kept alive between requests unless the request or the
// response says "Connection: close". Requests on one connection are answered
// in order. An unknown target is answered "404 Not Found" unless a fallback
// handler is set. Not thread-safe: use it from the thread it lives in.
//
// Qt 6.4's QNetworkAccessManager at times sends a request that is answered
// with a redirect twice: with redirects, check which targets were requested
// rather than how many requests came.
class TestHttpServer : public QObject {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // One request as the server read it.
    struct Request {
        QByteArray method;
        QByteArray target; // as on the request line: "/a/b?x=1"
        QByteArray path; // target without its query
        QByteArray userAgent; // empty when the client sent none
        Headers headers; // in the order received, names as sent
        QByteArray body; // read by Content-Length
        int connection = 0; // 1-based number of the connection it came on

        // The first header of that name (case-insensitive), or empty.
        QByteArray header(const QByteArray& name) const;
    };

    // What to answer. The defaults give "200 OK" with an empty body.
    struct Response {
        int code = 200;
        QByteArray reason = "OK"; // sent as is, any letter case
        Headers headers; // extra headers; Content-Length is added by the server
        QByteArray body;

        // >= 0: the body is pattern(generatedBodySize), produced as the socket
        // drains, so that bodies of hundreds of megabytes cost no memory; body
        // is then ignored.
        qint64 generatedBodySize = -1;
        // false: no Content-Length; the server closes the connection after the
        // body, which is how the client learns its end.
        bool contentLength = true;
        // Time between reading the request and sending the first byte.
        std::chrono::milliseconds delay { 0 };
        // Read the request and never answer; the connection stays open until
        // the client closes it or the server is destroyed.
        bool neverAnswer = false;
        // Read the request and close the connection without a byte of
        // answer: gently (FIN) or with a reset (RST).
        enum class Hangup { None, Close, Reset } hangup = Hangup::None;
        // >= 0: send the headers (with the full Content-Length) and only this
        // many body bytes, then close the connection.
        qint64 cutAfterBodyBytes = -1;
        // Close the connection after this response.
        bool closeConnection = false;
        // > 0: send the body in pieces of pieceBytes with pieceDelay between
        // them, as a slow server would.
        qint64 pieceBytes = 0;
        std::chrono::milliseconds pieceDelay { 0 };

        static Response ok(QByteArray body, QByteArray contentType = "text/html; charset=utf-8");
        static Response status(int code, QByteArray reason, QByteArray body = {});
        static Response redirect(int code, const QByteArray& location);
        static Response generated(qint64 size, QByteArray contentType = "application/octet-stream");
    };

    using Handler = std::function<Response(const Request&)>;

    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    // Starts listening on 127.0.0.1 at a port the system picks. False when
    // that fails.
    bool listen();
    quint16 port() const;
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;
    // baseUrl() followed by target, which starts with "/".
    QString url(const QString& target) const;

    // Answers requests for target (matched first as the whole request target,
    // then as its path without the query). A later route for the same target
    // replaces the earlier one.
    void route(const QByteArray& target, Response response);
    void route(const QByteArray& target, Handler handler);
    // Answers every request that no route matches.
    void setFallback(Handler handler);

    // Every request read so far, in order of arrival.
    const QList<Request>& requests() const { return m_requests; }
    // Connections accepted so far.
    int connectionCount() const { return m_connectionCount; }
    // Closes every open connection at once (the listening socket stays).
    void closeConnections();

    // Byte index of the body that generatedBodySize produces; not periodic
    // over short lengths, so that reordered or lost chunks show.
    static char patternByte(qint64 index);
    static QByteArray pattern(qint64 size, qint64 offset = 0);

Q_SIGNALS:
    // Emitted once a request has been read completely, before it is answered.
    void requestReceived(const QByteArray& target);

private:
    struct Connection;

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answerNext(Connection& connection);
    void startResponse(Connection& connection, const Response& response, bool closeAfter);
    void pump(Connection& connection);
    void finishResponse(Connection& connection);
    Response responseFor(const Request& request) const;

    QTcpServer* m_server = nullptr;
    QHash<QByteArray, Handler> m_routes;
    Handler m_fallback;
    QList<Request> m_requests;
    QHash<QTcpSocket*, std::shared_ptr<Connection>> m_connections;
    int m_connectionCount = 0;
};

} // namespace zp::test
