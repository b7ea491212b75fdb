#include "net/BackgroundDownloader.h"

#include "util/AtomicFile.h"
#include "util/StopFlag.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>

namespace zp {

namespace {

// Not from within the reply's own signal: aborting finishes the reply at
// once, and finishing ends the transfer that is handling the signal.
void abortSoon(QNetworkReply& reply)
{
    QMetaObject::invokeMethod(&reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

} // namespace

struct BackgroundDownloader::Transfer {
    QString url;
    QString path;
    qint32 minimumSize = 0;
    int attempt = 0;
    std::unique_ptr<QNetworkReply> reply;
    std::unique_ptr<AtomicFileWriter> file;
    FileDownloader::LocalFault fault = FileDownloader::LocalFault::None;
    QTimer retryTimer;
    const QObject* receiver = nullptr; // of the reply's signals

    // The reply may be the sender of the signal being handled.
    void dropReply()
    {
        if (!reply)
            return;
        QObject::disconnect(reply.get(), nullptr, receiver, nullptr);
        if (!reply->isFinished())
            reply->abort();
        reply.release()->deleteLater();
    }
    ~Transfer() { dropReply(); }
};

BackgroundDownloader::BackgroundDownloader(const StopFlag& stop, int connections,
    std::chrono::milliseconds idleTimeout, QList<std::chrono::milliseconds> retryDelays,
    const ShopAccess& access)
    : m_direct(idleTimeout, &stop, retryDelays, access, &m_committer)
    , m_access(access)
    , m_manager(access.makeManager())
    , m_stop(stop)
    , m_connections(std::max(connections, 1))
    , m_idleTimeout(idleTimeout)
    , m_retryDelays(std::move(retryDelays))
{
    QObject::connect(&m_stop, &StopFlag::raised, &m_receiver, [this] { abandonAll(); });
}

BackgroundDownloader::~BackgroundDownloader()
{
    QObject::disconnect(&m_stop, nullptr, &m_receiver, nullptr);
    abandonAll();
}

bool BackgroundDownloader::DownloadFile(const QString& url, const QString& localPath,
    DownloadObserver* observer, qint32 minimumSize, double progressInterval)
{
    return m_direct.DownloadFile(url, localPath, observer, minimumSize, progressInterval);
}

bool BackgroundDownloader::DownloadInBackground(
    const QString& url, const QString& localPath, qint32 minimumSize, double progressInterval)
{
    Q_UNUSED(progressInterval); // nobody watches a background download
    if (m_stop.isSet() || m_paths.contains(localPath))
        return true;
    auto transfer = std::make_unique<Transfer>();
    transfer->url = url;
    transfer->path = localPath;
    transfer->minimumSize = minimumSize;
    transfer->receiver = &m_receiver;
    m_paths.insert(localPath);
    m_queued.push_back(std::move(transfer));
    startQueued();
    return true;
}

void BackgroundDownloader::setBackgroundFailureHandler(FailureHandler handler)
{
    m_onFailure = std::move(handler);
}

bool BackgroundDownloader::isDownloading(const QString& localPath) const
{
    return m_paths.contains(localPath) || m_committing.contains(localPath);
}

bool BackgroundDownloader::idle() const
{
    return m_paths.isEmpty() && m_committing.isEmpty();
}

void BackgroundDownloader::waitForBackground()
{
    if (idle())
        return;
    QEventLoop loop;
    m_waiting = &loop;
    loop.exec();
    m_waiting = nullptr;
}

void BackgroundDownloader::flushDownloaded()
{
    m_committer.flushCommitted();
}

void BackgroundDownloader::startQueued()
{
    while (!m_queued.empty() && static_cast<int>(m_running.size()) < m_connections) {
        m_running.push_back(std::move(m_queued.front()));
        m_queued.pop_front();
        begin(*m_running.back());
    }
}

void BackgroundDownloader::begin(Transfer& transfer)
{
    transfer.file = std::make_unique<AtomicFileWriter>(
        transfer.path, FileDownloader::temporaryPath(transfer.path));
    transfer.fault = FileDownloader::LocalFault::None;
    transfer.reply.reset(
        m_manager->get(FileDownloader::fileRequest(transfer.url, m_idleTimeout, m_access)));
    QObject::connect(transfer.reply.get(), &QNetworkReply::readyRead, &m_receiver,
        [this, &transfer] { onData(transfer); });
    QObject::connect(transfer.reply.get(), &QNetworkReply::finished, &m_receiver,
        [this, &transfer] { onFinished(transfer); });
}

void BackgroundDownloader::onData(Transfer& transfer)
{
    QNetworkReply& reply = *transfer.reply;
    const QByteArray data = reply.readAll();
    if (transfer.fault != FileDownloader::LocalFault::None
        || reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400)
        return;
    if (transfer.file->written() + data.size() > FileDownloader::kMaxFileBytes) {
        transfer.fault = FileDownloader::LocalFault::TooLarge;
        abortSoon(reply);
        return;
    }
    if ((!transfer.file->isOpen() && !transfer.file->open()) || !transfer.file->write(data)) {
        transfer.fault = FileDownloader::LocalFault::WriteFailed;
        abortSoon(reply);
    }
}

void BackgroundDownloader::onFinished(Transfer& transfer)
{
    onData(transfer);
    const FileDownloader::Verdict verdict = FileDownloader::finishTransfer(
        *transfer.reply, transfer.fault, transfer.file->written(), transfer.minimumSize);
    if (verdict.attempt == FileDownloader::Attempt::Done)
        commit(transfer);
    else
        retryOrEnd(transfer, verdict);
}

void BackgroundDownloader::commit(Transfer& transfer)
{
    m_committing.insert(transfer.path);
    FileDownloader::commitTransfer(*transfer.file, m_committer,
        [this, url = transfer.url, path = transfer.path](
            const FileDownloader::Verdict& verdict) { committed(url, path, verdict); });
    end(transfer);
}

void BackgroundDownloader::committed(
    const QString& url, const QString& path, const FileDownloader::Verdict& verdict)
{
    m_committing.remove(path);
    // A file that could not be written is not tried again.
    if (verdict.attempt != FileDownloader::Attempt::Done && m_onFailure)
        m_onFailure(url, verdict.failure, false);
    if (m_waiting && idle())
        m_waiting->quit();
}

void BackgroundDownloader::retryOrEnd(Transfer& transfer, const FileDownloader::Verdict& verdict)
{
    transfer.dropReply();
    transfer.file.reset(); // removes an uncommitted temporary file
    if (verdict.attempt == FileDownloader::Attempt::PassingFault
        && transfer.attempt < m_retryDelays.size()) {
        transfer.retryTimer.setSingleShot(true);
        QObject::disconnect(&transfer.retryTimer, nullptr, &m_receiver, nullptr);
        QObject::connect(&transfer.retryTimer, &QTimer::timeout, &m_receiver,
            [this, &transfer] { begin(transfer); });
        transfer.retryTimer.start(m_retryDelays[transfer.attempt++]);
        return;
    }
    if (verdict.attempt != FileDownloader::Attempt::Done && m_onFailure)
        m_onFailure(transfer.url, verdict.failure,
            verdict.attempt == FileDownloader::Attempt::PassingFault);
    end(transfer);
}

void BackgroundDownloader::end(Transfer& transfer)
{
    m_paths.remove(transfer.path);
    const auto it = std::find_if(m_running.begin(), m_running.end(),
        [&transfer](const std::unique_ptr<Transfer>& t) { return t.get() == &transfer; });
    if (it != m_running.end())
        m_running.erase(it);
    startQueued();
    if (m_waiting && idle())
        m_waiting->quit();
}

void BackgroundDownloader::abandonAll()
{
    m_running.clear(); // aborts the replies; the writers remove their temporary files
    m_queued.clear();
    m_paths.clear();
    if (m_waiting)
        m_waiting->quit();
}

} // namespace zp
