#include "net/FileTransfer.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// How much of the body the reply holds before it stops reading the socket.
constexpr qint64 kReplyBufferBytes = 32 * FileTransfer::kChunkBytes;

const QString kWriteFailed = u"не удалось записать файл"_s;

} // namespace

FileTransfer::FileTransfer(QNetworkAccessManager& manager, FileCommitter& committer,
    const QString& url, const QString& localPath, qint32 minimumSize,
    std::chrono::milliseconds idleTimeout, const ShopAccess& access, TransferWatch watch)
    : m_reply(manager.get(access.request(url, idleTimeout, QByteArrayLiteral("VB OpenUrl"))))
    , m_committer(committer)
    , m_file(localPath, temporaryPath(localPath))
    , m_minimumSize(minimumSize)
    , m_watch(watch)
{
    m_reply->setReadBufferSize(kReplyBufferBytes);
    connect(m_reply.get(), &QNetworkReply::readyRead, this, &FileTransfer::onData);
    connect(m_reply.get(), &QNetworkReply::finished, this, &FileTransfer::onFinished);
    m_clock.start();
}

FileTransfer::~FileTransfer()
{
    dropReply();
}

void FileTransfer::cancel()
{
    if (m_outcome != Outcome::Running || m_committing)
        return;
    m_outcome = Outcome::Failed;
    m_verdict = { ReplyVerdict::Kind::Passing, CancelledReason, std::nullopt };
    dropReply();
    m_file.discard();
}

QString FileTransfer::temporaryPath(const QString& localPath)
{
    const QFileInfo info(localPath);
    return info.absolutePath() + u"/.~"_s + info.fileName() + TemporarySuffix;
}

void FileTransfer::RemoveLeftovers(const QString& folder)
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

// Redirects are followed inside the reply, so the status seen here is the
// final answer's.
bool FileTransfer::isAnswerOk() const
{
    return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}

void FileTransfer::onData()
{
    if (!isAnswerOk()) {
        // Read and dropped to its end: aborting a reply with an error status
        // has Qt set its error twice. Only an endless one is cut short.
        m_discarded += m_reply->readAll().size();
        if (m_discarded > kMaxFileBytes) {
            // Judged now, before aborting sets the reply's own error.
            m_verdict = JudgeReply(*m_reply, QDateTime::currentDateTimeUtc());
            end(Outcome::Failed);
        }
        return;
    }
    std::array<char, kChunkBytes> chunk {};
    while (m_outcome == Outcome::Running && m_reply->bytesAvailable() > 0) {
        if (!m_file.isOpen() && !m_file.open())
            return fail(ReplyVerdict::Kind::Final, kWriteFailed);
        const qint64 count = m_reply->read(chunk.data(), kChunkBytes);
        if (count <= 0)
            return;
        if (m_file.written() + count > kMaxFileBytes) {
            m_verdict = TooLargeVerdict(kMaxFileBytes);
            return end(Outcome::Failed);
        }
        if (!m_file.write(QByteArrayView(chunk.data(), count)))
            return fail(ReplyVerdict::Kind::Final, kWriteFailed);
        if (!watch())
            end(Outcome::Stopped);
    }
}

// False when the observer asks to stop.
bool FileTransfer::watch()
{
    DownloadObserver* observer = m_watch.observer;
    if (!observer)
        return true;
    if (observer->flgStop())
        return false;
    const double now = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
    if (now > m_lastProgress + m_watch.progressInterval) {
        m_lastProgress = now;
        qint32 reserved = 0;
        observer->LoadProgress(static_cast<qint32>(m_file.written()), reserved);
    }
    return true;
}

void FileTransfer::onFinished()
{
    if (m_reply->error() == QNetworkReply::NoError && isAnswerOk())
        onData();
    if (m_outcome != Outcome::Running)
        return;
    m_verdict = JudgeReply(*m_reply, QDateTime::currentDateTimeUtc());
    if (m_verdict.kind != ReplyVerdict::Kind::Success)
        return end(Outcome::Failed);
    if (m_file.written() < m_minimumSize)
        return fail(ReplyVerdict::Kind::Final, u"меньше %1 байт"_s.arg(m_minimumSize));
    commit();
}

void FileTransfer::commit()
{
    std::optional<WrittenFile> written = m_file.finish();
    if (!written)
        return fail(ReplyVerdict::Kind::Final, kWriteFailed);
    dropReply();
    m_committing = true;
    QMetaObject::invokeMethod(this, &FileTransfer::received, Qt::QueuedConnection);
    // The committer may tell its outcome after the transfer is gone.
    m_committer.commit(std::move(*written), [self = QPointer<FileTransfer>(this)](bool committed) {
        if (!self)
            return;
        self->m_committing = false;
        if (committed)
            self->end(Outcome::Done);
        else
            self->fail(ReplyVerdict::Kind::Final, kWriteFailed);
    });
}

void FileTransfer::fail(ReplyVerdict::Kind kind, const QString& reason)
{
    m_verdict = { kind, reason, std::nullopt };
    end(Outcome::Failed);
}

void FileTransfer::end(Outcome outcome)
{
    m_outcome = outcome;
    dropReply();
    if (outcome != Outcome::Done)
        m_file.discard();
    QMetaObject::invokeMethod(this, &FileTransfer::finished, Qt::QueuedConnection);
}

// May run inside one of the reply's own signals: the reply is deleted later.
void FileTransfer::dropReply()
{
    if (!m_reply)
        return;
    disconnect(m_reply.get(), nullptr, this, nullptr);
    if (!m_reply->isFinished())
        m_reply->abort();
    m_reply.release()->deleteLater();
}

} // namespace zp
