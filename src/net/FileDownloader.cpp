#include "net/FileDownloader.h"

#include "net/ReplyFailure.h"
#include "util/AtomicFile.h"
#include "util/FileCommitter.h"
#include "util/StopFlag.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// How much of the body the reply holds before it stops reading the socket.
constexpr qint64 kReplyBufferBytes = 32 * FileDownloader::kChunkBytes;

// Why a file that could not be written, flushed or renamed is not there.
QString writeFailure()
{
    return u"не удалось записать файл"_s;
}

} // namespace

QNetworkRequest FileDownloader::fileRequest(
    const QString& url, std::chrono::milliseconds idleTimeout, const ShopAccess& access)
{
    return access.request(url, idleTimeout, QByteArrayLiteral("VB OpenUrl"));
}

namespace {

bool isErrorStatus(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400;
}

// A fault that may be gone a moment later: a time-out, a connection cut or
// refused.
bool isPassingFault(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out aborts the reply
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

// Waits for delay, or until the run is stopped.
void waitFor(std::chrono::milliseconds delay, const StopFlag* stop)
{
    if (stop && stop->isSet())
        return;
    QEventLoop loop;
    QTimer::singleShot(delay, &loop, &QEventLoop::quit);
    if (stop)
        QObject::connect(stop, &StopFlag::raised, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

FileDownloader::FileDownloader(std::chrono::milliseconds idleTimeout, const StopFlag* stop,
    QList<std::chrono::milliseconds> retryDelays, const ShopAccess& access,
    FileCommitter* committer)
    : m_ownCommitter(committer ? nullptr : std::make_unique<FileCommitter>())
    , m_committer(committer ? *committer : *m_ownCommitter)
    , m_access(access)
    , m_manager(access.makeManager())
    , m_idleTimeout(idleTimeout)
    , m_stop(stop)
    , m_retryDelays(std::move(retryDelays))
{
}

FileDownloader::~FileDownloader() = default;

void FileDownloader::flushDownloaded()
{
    m_committer.flushCommitted();
}

QString FileDownloader::temporaryPath(const QString& localPath)
{
    const QFileInfo info(localPath);
    return info.absolutePath() + u"/.~"_s + info.fileName() + TemporarySuffix;
}

void FileDownloader::RemoveLeftovers(const QString& folder)
{
    QDir dir(folder);
    const QStringList names
        = dir.entryList({ u".~*"_s + TemporarySuffix }, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        dir.remove(name);

    // Earlier versions wrote through QSaveFile, whose temporary files are
    // named "<picture>.XXXXXX"; a killed download left them empty.
    static const QRegularExpression saveFileTemporary(u"^.+\\.[^.]+\\.[A-Za-z0-9]{6}$"_s);
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& file : files) {
        if (file.size() == 0 && saveFileTemporary.match(file.fileName()).hasMatch())
            dir.remove(file.fileName());
    }
}

bool FileDownloader::DownloadFile(const QString& url, const QString& localPath,
    DownloadObserver* observer, qint32 minimumSize, double progressInterval)
{
    for (int attempt = 0;; ++attempt) {
        m_lastFailure.clear();
        if (runStopped())
            return false;
        const Attempt result = tryDownload(url, localPath, observer, minimumSize, progressInterval);
        m_lastFailureMayPass = result == Attempt::PassingFault;
        if (result != Attempt::PassingFault || attempt >= m_retryDelays.size())
            return result == Attempt::Done;
        waitFor(m_retryDelays[attempt], m_stop);
    }
}

bool FileDownloader::runStopped() const
{
    return m_stop && m_stop->isSet();
}

FileDownloader::Attempt FileDownloader::tryDownload(const QString& url, const QString& localPath,
    DownloadObserver* observer, qint32 minimumSize, double progressInterval)
{
    const std::unique_ptr<QNetworkReply> reply(
        m_manager->get(fileRequest(url, m_idleTimeout, m_access)));
    reply->setReadBufferSize(kReplyBufferBytes);

    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (m_stop)
        QObject::connect(m_stop, &StopFlag::raised, &loop, &QEventLoop::quit);

    // Written beside the target and moved over it only when whole; removed
    // when it goes out of scope uncommitted.
    AtomicFileWriter file(localPath, temporaryPath(localPath));
    std::array<char, kChunkBytes> chunk {};
    LocalFault fault = LocalFault::None;
    bool stopped = false;
    bool runStop = false;
    QElapsedTimer clock;
    double lastProgress = 0.0;

    for (;;) {
        if (runStopped()) {
            runStop = true;
            break;
        }
        if (reply->bytesAvailable() == 0) {
            if (reply->isFinished())
                break;
            loop.exec();
            continue;
        }
        if (!file.isOpen()) {
            if (isErrorStatus(*reply) || !file.open()) {
                fault = LocalFault::WriteFailed;
                break;
            }
            clock.start();
        }
        const qint64 count = reply->read(chunk.data(), kChunkBytes);
        if (file.written() + count > kMaxFileBytes) {
            fault = LocalFault::TooLarge;
            break;
        }
        if (count < 0 || !file.write(QByteArrayView(chunk.data(), count))) {
            fault = LocalFault::WriteFailed;
            break;
        }

        QCoreApplication::processEvents();
        if (!observer)
            continue;
        if (observer->flgStop()) {
            stopped = true;
            break;
        }
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (now > lastProgress + progressInterval) {
            lastProgress = now;
            qint32 reserved = 0;
            observer->LoadProgress(static_cast<qint32>(file.written()), reserved);
        }
    }

    QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
    if (m_stop)
        QObject::disconnect(m_stop, nullptr, &loop, nullptr);
    if (!reply->isFinished())
        reply->abort();
    if (stopped)
        return Attempt::Done;
    if (runStop)
        return Attempt::Failed;
    Verdict verdict = finishTransfer(*reply, fault, file.written(), minimumSize);
    if (verdict.attempt == Attempt::Done)
        verdict = commitAndWait(file);
    m_lastFailure = verdict.failure;
    return verdict.attempt;
}

FileDownloader::Verdict FileDownloader::commitAndWait(AtomicFileWriter& file)
{
    std::optional<Verdict> verdict;
    QEventLoop loop;
    commitTransfer(file, m_committer, [&](const Verdict& outcome) {
        verdict = outcome;
        loop.quit();
    });
    if (!verdict)
        loop.exec();
    return *verdict;
}

void FileDownloader::commitTransfer(
    AtomicFileWriter& file, FileCommitter& committer, std::function<void(const Verdict&)> done)
{
    const Verdict writeFailed { Attempt::Failed, writeFailure() };
    std::optional<WrittenFile> written = file.finish();
    if (!written) {
        done(writeFailed);
        return;
    }
    committer.commit(std::move(*written), [done = std::move(done), writeFailed](bool committed) {
        done(committed ? Verdict { Attempt::Done, {} } : writeFailed);
    });
}

FileDownloader::Verdict FileDownloader::finishTransfer(
    const QNetworkReply& reply, LocalFault fault, qint64 written, qint32 minimumSize)
{
    // Judged before the reply's own error, which aborting it sets.
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return { status >= 500 ? Attempt::PassingFault : Attempt::Failed,
            DescribeReplyFailure(reply) };
    if (fault == LocalFault::TooLarge)
        return { Attempt::Failed, u"больше %1 МБ"_s.arg(kMaxFileBytes / (1024 * 1024)) };
    if (fault == LocalFault::WriteFailed)
        return { Attempt::Failed, writeFailure() };
    if (reply.error() != QNetworkReply::NoError)
        return { isPassingFault(reply.error()) ? Attempt::PassingFault : Attempt::Failed,
            DescribeReplyFailure(reply) };
    if (written < minimumSize)
        return { Attempt::Failed, u"меньше %1 байт"_s.arg(minimumSize) };
    return { Attempt::Done, {} };
}

} // namespace zp
