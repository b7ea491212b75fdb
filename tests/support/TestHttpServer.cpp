#include "support/TestHttpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <sys/socket.h>

namespace zp::test {

namespace {

using Header = QPair<QByteArray, QByteArray>;

constexpr qint64 kWriteChunk = 64 * 1024;
// Keep at most this much queued in the socket, so that a generated body is
// produced as fast as the client reads it and never held whole.
constexpr qint64 kMaxQueued = 256 * 1024;

} // namespace

struct TestHttpServer::Connection {
    QTcpSocket* socket = nullptr;
    int number = 0;
    QByteArray input;
    bool busy = false; // between reading a request and the end of its answer
    bool silent = false; // a neverAnswer request came on this connection
    bool sending = false;
    bool paused = false; // waiting for the next piece of a slow body

    // The body being sent.
    QByteArray body;
    bool generated = false;
    qint64 sent = 0;
    qint64 limit = 0;
    qint64 pieceBytes = 0;
    std::chrono::milliseconds pieceDelay { 0 };
    bool closeAfter = false;
};

QByteArray TestHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

TestHttpServer::Response TestHttpServer::Response::ok(QByteArray body, QByteArray contentType)
{
    Response response;
    response.body = std::move(body);
    response.headers.append(Header("Content-Type", std::move(contentType)));
    return response;
}

TestHttpServer::Response TestHttpServer::Response::status(
    int code, QByteArray reason, QByteArray body)
{
    Response response;
    response.code = code;
    response.reason = std::move(reason);
    response.body = std::move(body);
    response.headers.append(Header("Content-Type", "text/html"));
    return response;
}

TestHttpServer::Response TestHttpServer::Response::redirect(int code, const QByteArray& location)
{
    Response response;
    response.code = code;
    response.reason = code == 301 ? "Moved Permanently" : "Found";
    response.headers.append(Header("Location", location));
    return response;
}

TestHttpServer::Response TestHttpServer::Response::generated(qint64 size, QByteArray contentType)
{
    Response response;
    response.generatedBodySize = size;
    response.headers.append(Header("Content-Type", std::move(contentType)));
    return response;
}

TestHttpServer::TestHttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer()
{
    const auto sockets = m_connections.keys();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool TestHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::port() const
{
    return m_server->serverPort();
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QString TestHttpServer::url(const QString& target) const
{
    return baseUrl() + target;
}

void TestHttpServer::route(const QByteArray& target, Response response)
{
    m_routes.insert(target, [response](const Request&) { return response; });
}

void TestHttpServer::route(const QByteArray& target, Handler handler)
{
    m_routes.insert(target, std::move(handler));
}

void TestHttpServer::setFallback(Handler handler)
{
    m_fallback = std::move(handler);
}

void TestHttpServer::closeConnections()
{
    const auto sockets = m_connections.keys();
    for (QTcpSocket* socket : sockets)
        socket->abort();
}

char TestHttpServer::patternByte(qint64 index)
{
    // 251 is prime and the block number shifts each block, so no two
    // neighbouring 2024-byte chunks are alike.
    return static_cast<char>((index % 251 + index / 251) & 0xff);
}

QByteArray TestHttpServer::pattern(qint64 size, qint64 offset)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = patternByte(offset + i);
    return bytes;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        connection->number = ++m_connectionCount;
        m_connections.insert(socket, connection);

        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (auto c = m_connections.value(socket); c && c->sending && !c->paused)
                pump(*c);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
        // Data may have come with the connection itself.
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void TestHttpServer::onReadyRead(QTcpSocket* socket)
{
    const auto connection = m_connections.value(socket);
    if (!connection)
        return;
    const QByteArray data = socket->readAll();
    if (connection->silent)
        return;
    connection->input.append(data);
    if (!connection->busy)
        answerNext(*connection);
}

void TestHttpServer::answerNext(Connection& connection)
{
    const qsizetype headEnd = connection.input.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = connection.input.left(headEnd).split('\n');
    Request request;
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.path = request.target.left(request.target.indexOf('?'));
    if (request.path.isEmpty())
        request.path = request.target;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    const qint64 bodySize = request.header("Content-Length").toLongLong();
    const qint64 total = headEnd + 4 + bodySize;
    if (connection.input.size() < total)
        return;
    request.body = connection.input.mid(headEnd + 4, bodySize);
    connection.input.remove(0, total);
    request.userAgent = request.header("User-Agent");
    request.connection = connection.number;

    m_requests.append(request);
    connection.busy = true;
    Q_EMIT requestReceived(request.target);

    const Response response = responseFor(request);
    if (response.neverAnswer) {
        connection.silent = true;
        connection.input.clear();
        return;
    }
    if (response.hangup != Response::Hangup::None) {
        QTcpSocket* socket = connection.socket;
        if (response.hangup == Response::Hangup::Reset) {
            // A zero linger time makes close() send RST instead of FIN.
            const linger abortive { 1, 0 };
            ::setsockopt(
                int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        QMetaObject::invokeMethod(socket, &QTcpSocket::close, Qt::QueuedConnection);
        return;
    }
    const bool closeAfter = response.closeConnection || !response.contentLength
        || response.cutAfterBodyBytes >= 0
        || request.header("Connection").compare("close", Qt::CaseInsensitive) == 0;
    if (response.delay.count() > 0) {
        QTcpSocket* socket = connection.socket;
        QTimer::singleShot(response.delay, socket, [this, socket, response, closeAfter] {
            if (const auto c = m_connections.value(socket))
                startResponse(*c, response, closeAfter);
        });
    } else {
        startResponse(connection, response, closeAfter);
    }
}

void TestHttpServer::startResponse(
    Connection& connection, const Response& response, bool closeAfter)
{
    const qint64 bodySize
        = response.generatedBodySize >= 0 ? response.generatedBodySize : response.body.size();
    QByteArray head
        = "HTTP/1.1 " + QByteArray::number(response.code) + ' ' + response.reason + "\r\n";
    for (const auto& [name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.contentLength)
        head += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
    if (closeAfter)
        head += "Connection: close\r\n";
    head += "\r\n";
    connection.socket->write(head);

    connection.generated = response.generatedBodySize >= 0;
    connection.body = connection.generated ? QByteArray() : response.body;
    connection.sent = 0;
    connection.limit = response.cutAfterBodyBytes >= 0
        ? std::min(response.cutAfterBodyBytes, bodySize)
        : bodySize;
    connection.pieceBytes = response.pieceBytes;
    connection.pieceDelay = response.pieceDelay;
    connection.closeAfter = closeAfter;
    connection.sending = true;
    pump(connection);
}

void TestHttpServer::pump(Connection& connection)
{
    QTcpSocket* socket = connection.socket;
    const bool slow = connection.pieceBytes > 0;
    connection.paused = false;
    while (connection.sent < connection.limit && socket->bytesToWrite() < kMaxQueued) {
        const qint64 n = std::min(
            slow ? connection.pieceBytes : kWriteChunk, connection.limit - connection.sent);
        const QByteArray chunk = connection.generated ? pattern(n, connection.sent)
                                                      : connection.body.mid(connection.sent, n);
        socket->write(chunk);
        connection.sent += n;
        if (slow && connection.sent < connection.limit) {
            connection.paused = true;
            QTimer::singleShot(connection.pieceDelay, socket, [this, socket] {
                if (const auto c = m_connections.value(socket))
                    pump(*c);
            });
            return;
        }
    }
    if (connection.sent >= connection.limit)
        finishResponse(connection);
}

void TestHttpServer::finishResponse(Connection& connection)
{
    connection.sending = false;
    connection.busy = false;
    connection.body.clear();
    if (connection.closeAfter) {
        // Sends what is queued, then closes.
        connection.socket->disconnectFromHost();
        return;
    }
    answerNext(connection);
}

TestHttpServer::Response TestHttpServer::responseFor(const Request& request) const
{
    if (const auto it = m_routes.constFind(request.target); it != m_routes.cend())
        return (*it)(request);
    if (const auto it = m_routes.constFind(request.path); it != m_routes.cend())
        return (*it)(request);
    if (m_fallback)
        return m_fallback(request);
    return Response::status(404, "Not Found", "<html><body>Not Found</body></html>");
}

} // namespace zp::test
