#include "util/FileCommitter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QRunnable>
#include <algorithm>
#include <utility>

namespace zp {

class FileCommitter::Job final : public QRunnable {
public:
    Job(FileCommitter& committer, quint64 ticket, WrittenFile file, Done done)
        : m_committer(committer)
        , m_ticket(ticket)
        , m_file(std::move(file))
        , m_done(std::move(done))
    {
    }

    // On a worker: touches nothing but the file; the outcome is posted back.
    void run() override
    {
        const bool committed = m_file.commit();
        QMetaObject::invokeMethod(
            &m_committer.m_receiver,
            [&committer = m_committer, ticket = m_ticket,
                folder = QFileInfo(m_file.path()).absolutePath(), committed,
                done = std::move(m_done)] {
                if (committed)
                    committer.m_unflushedFolders.insert(folder);
                // Over before done is told, so that done may wait in its turn;
                // a wait it ends returns only after done.
                committer.over(ticket);
                if (done)
                    done(committed);
            },
            Qt::QueuedConnection);
    }

private:
    FileCommitter& m_committer;
    const quint64 m_ticket;
    WrittenFile m_file;
    Done m_done;
};

FileCommitter::FileCommitter(int workers)
{
    m_workers.setMaxThreadCount(std::max(workers, 1));
}

FileCommitter::~FileCommitter()
{
    m_workers.waitForDone();
}

void FileCommitter::commit(WrittenFile file, Done done)
{
    const quint64 ticket = m_nextTicket++;
    m_outstanding.insert(ticket);
    m_workers.start(new Job(*this, ticket, std::move(file), std::move(done)));
}

void FileCommitter::flushCommitted()
{
    waitUntilOver(m_nextTicket);
    if (m_unflushedFolders.isEmpty())
        return;
    // On a worker too, so that the event loop goes on during the flush.
    const quint64 ticket = m_nextTicket++;
    m_outstanding.insert(ticket);
    m_workers.start([this, ticket, folders = std::exchange(m_unflushedFolders, {})] {
        for (const QString& folder : folders)
            SyncFolder(folder);
        QMetaObject::invokeMethod(
            &m_receiver, [this, ticket] { over(ticket); }, Qt::QueuedConnection);
    });
    waitUntilOver(ticket + 1);
}

bool FileCommitter::isOver(quint64 before) const
{
    return m_outstanding.empty() || *m_outstanding.begin() >= before;
}

void FileCommitter::over(quint64 ticket)
{
    m_outstanding.erase(ticket);
    for (Wait* wait : m_waits) {
        if (isOver(wait->before))
            wait->loop.quit();
    }
}

void FileCommitter::waitUntilOver(quint64 before)
{
    // Outcomes posted before the event being handled now (a done, a queued
    // signal) would reach a nested loop only after that handler: Qt's GLib
    // dispatcher does not hand them over again.
    QCoreApplication::sendPostedEvents(&m_receiver, QEvent::MetaCall);
    if (isOver(before))
        return;
    Wait wait;
    wait.before = before;
    m_waits.push_back(&wait);
    wait.loop.exec();
    m_waits.erase(std::find(m_waits.begin(), m_waits.end(), &wait));
}

} // namespace zp
