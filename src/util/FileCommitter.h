#pragma once

#include "util/AtomicFile.h"

#include <QEventLoop>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <set>
#include <vector>

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

    // Flushes overlap (a journal takes many at once), so a slow disk keeps
    // several workers waiting: at 30 ms a flush, 16 commit 500 files a second.
    static constexpr int kDefaultWorkers = 16;

    explicit FileCommitter(int workers = kDefaultWorkers);
    // Waits for the commits under way; their done is not called.
    ~FileCommitter();
    FileCommitter(const FileCommitter&) = delete;
    FileCommitter& operator=(const FileCommitter&) = delete;

    // Commits file on a worker. done is told the outcome later, on this
    // object's thread, from its event loop; never from within commit().
    void commit(WrittenFile file, Done done);

    // Waits, in an event loop woken by their outcomes, until every commit
    // handed over before the call has been told to its done; then flushes to
    // disk, once each, the folders files were committed into since the last
    // call, so that their names survive a crash. A folder that cannot be
    // flushed (some file systems refuse) is passed over, as its files are
    // there all the same. The event loop goes on meanwhile.
    void flushCommitted();

    // Commits and folder flushes handed to the workers and not over yet.
    int pending() const { return int(m_outstanding.size()); }

private:
    class Job;
    struct Wait {
        quint64 before = 0;
        QEventLoop loop;
    };

    // True when the work of every ticket below before is over.
    bool isOver(quint64 before) const;
    void over(quint64 ticket);
    void waitUntilOver(quint64 before);

    QObject m_receiver; // of the outcomes, on this object's thread
    QThreadPool m_workers;
    quint64 m_nextTicket = 0; // one for each piece of work handed to the workers
    std::set<quint64> m_outstanding;
    QSet<QString> m_unflushedFolders;
    std::vector<Wait*> m_waits; // innermost last
};

} // namespace zp
