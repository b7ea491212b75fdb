#include "util/FileCommitter.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QRunnable>
#include <algorithm>
#include <utility>

namespace zp {

class FileCommitter::Job final : public QRunnable {
public:
    Job(FileCommitter& committer, WrittenFile file, Done done)
        : m_committer(committer)
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
            [&committer = m_committer, folder = QFileInfo(m_file.path()).absolutePath(), committed,
                done = std::move(m_done)] { committer.finished(folder, committed, done); },
            Qt::QueuedConnection);
    }

private:
    FileCommitter& m_committer;
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
    ++m_pending;
    m_workers.start(new Job(*this, std::move(file), std::move(done)));
}

void FileCommitter::finished(const QString& folder, bool committed, const Done& done)
{
    --m_pending;
    if (committed)
        m_unflushedFolders.insert(folder);
    if (done)
        done(committed);
    if (m_waiting && m_pending == 0)
        m_waiting->quit();
}

void FileCommitter::flushCommitted()
{
    if (m_pending > 0) {
        QEventLoop loop;
        QEventLoop* const outer = std::exchange(m_waiting, &loop);
        loop.exec();
        // An outer wait (a done that waits in its turn) is over as well.
        m_waiting = outer;
        if (m_waiting)
            m_waiting->quit();
    }
    for (const QString& folder : std::exchange(m_unflushedFolders, {}))
        SyncFolder(folder);
}

} // namespace zp
