#pragma once

#include "util/AtomicFile.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <functional>

class QEventLoop;

namespace zp {

// Commits written files (WrittenFile::commit: flush to disk, rename) on
// worker threads, so that the thread that hands them over, which also drives
// the network, never waits on the disk; and flushes the folders they went
// into once for many files instead of once per file.
//
// A file stands under its name, whole, once its commit succeeded; the name
// itself is on disk once flushCommitted() has returned after that. Outcomes
// come back to the thread that made the committer, through its event loop.
class FileCommitter {
public:
    using Done = std::function<void(bool committed)>;

    // Flushes of files on different disks or in one journal overlap, so a
    // slow disk keeps several busy.
    static constexpr int kDefaultWorkers = 8;

    explicit FileCommitter(int workers = kDefaultWorkers);
    // Waits for the commits under way; their done is not called.
    ~FileCommitter();
    FileCommitter(const FileCommitter&) = delete;
    FileCommitter& operator=(const FileCommitter&) = delete;

    // Commits file on a worker. done is told the outcome later, on this
    // object's thread, from its event loop; never from within commit().
    void commit(WrittenFile file, Done done);

    // Waits, in an event loop woken by their outcomes, until every commit
    // handed over has been told to its done; then flushes to disk, once each,
    // the folders files were committed into since the last call, so that
    // their names survive a crash. A folder that cannot be flushed (some file
    // systems refuse) is passed over, as its files are there all the same.
    void flushCommitted();

    // Commits handed over whose done has not been told yet.
    int pending() const { return m_pending; }

private:
    class Job;
    void finished(const QString& folder, bool committed, const Done& done);

    QObject m_receiver; // of the outcomes, on this object's thread
    QThreadPool m_workers;
    int m_pending = 0;
    QSet<QString> m_unflushedFolders;
    QEventLoop* m_waiting = nullptr;
};

} // namespace zp
