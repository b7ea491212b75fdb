#include "net/BackgroundDownloader.h"

#include "util/StopFlag.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTimer>
#include <algorithm>

namespace zp {

struct BackgroundDownloader::Job {
    enum class State { Ready, Running, Waiting, Over };

    QString path;
    QStringList urls; // the first address, then later ones of the same name
    qsizetype current = 0;
    qint32 minimumSize = 0;
    bool foreground = false; // DownloadFile's: no handler, no other addresses
    TransferWatch watch;
    State state = State::Ready;
    RetryPolicy::Tries tries;
    std::unique_ptr<FileTransfer> transfer;
    QNetworkAccessManager* manager = nullptr; // of the transfer under way
    QTimer retryTimer;
    bool succeeded = false;
    QString failure;
    bool failureMayPass = false;
};

BackgroundDownloader::BackgroundDownloader(const StopFlag& stop, int connections,
    const ShopAccess& access, RetryPolicy policy, std::chrono::milliseconds idleTimeout)
    : m_stop(stop)
    , m_connections(std::max(connections, 1))
    , m_access(access)
    , m_policy(std::move(policy))
    , m_idleTimeout(idleTimeout)
    , m_host(m_connections)
    , m_managers(m_connections, m_access)
{
    QObject::connect(&m_stop, &StopFlag::raised, &m_receiver, [this] { onStop(); });
    m_paceEnd.setSingleShot(true);
    m_paceEnd.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_paceEnd, &QTimer::timeout, &m_receiver, [this] { startReady(); });
}

BackgroundDownloader::~BackgroundDownloader()
{
    QObject::disconnect(&m_stop, nullptr, &m_receiver, nullptr);
    m_jobs.clear(); // cancels the transfers; the writers remove their temporary files
}

bool BackgroundDownloader::DownloadFile(const QString& url, const QString& localPath,
    DownloadObserver* observer, qint32 minimumSize, double progressInterval)
{
    m_lastFailure.clear();
    m_lastFailureMayPass = false;
    waitUntil([&] { return m_stop.isSet() || !m_byPath.contains(localPath); });
    if (m_stop.isSet())
        return false;
    Job& job = add(url, localPath, minimumSize, true);
    job.watch = { observer, progressInterval };
    const std::shared_ptr<Job> held = m_jobs.front();
    startReady();
    waitUntil([&job] { return job.state == Job::State::Over; });
    m_lastFailure = job.failure;
    m_lastFailureMayPass = job.failureMayPass;
    return job.succeeded;
}

bool BackgroundDownloader::DownloadInBackground(
    const QString& url, const QString& localPath, qint32 minimumSize, double progressInterval)
{
    Q_UNUSED(progressInterval); // nobody watches a background download
    if (Job* pending = m_byPath.value(localPath)) {
        if (!pending->foreground && !pending->urls.contains(url))
            pending->urls.append(url);
        return true;
    }
    // A stop still queues it: the row naming it is about to be saved.
    const auto roomOrStop = [this] {
        return m_stop.isSet()
            || static_cast<int>(m_jobs.size()) < kQueuePerConnection * m_connections;
    };
    if (!roomOrStop()) {
        waitUntil(roomOrStop);
        return DownloadInBackground(url, localPath, minimumSize, progressInterval);
    }
    add(url, localPath, minimumSize, false);
    startReady();
    return true;
}

void BackgroundDownloader::setBackgroundFailureHandler(FailureHandler handler)
{
    m_onFailure = std::move(handler);
}

bool BackgroundDownloader::isDownloading(const QString& localPath) const
{
    return m_byPath.contains(localPath);
}

void BackgroundDownloader::waitForBackground()
{
    m_abandoned.clear();
    m_stopsDuringWait = m_stop.isSet() ? 1 : 0;
    waitUntil([this] { return m_jobs.empty(); });
    m_stopsDuringWait.reset();
}

bool BackgroundDownloader::wasAbandoned(const QString& localPath) const
{
    return m_abandoned.contains(localPath);
}

void BackgroundDownloader::flushDownloaded()
{
    m_committer.flushCommitted();
}

BackgroundDownloader::Job& BackgroundDownloader::add(
    const QString& url, const QString& localPath, qint32 minimumSize, bool first)
{
    auto job = std::make_shared<Job>();
    job->path = localPath;
    job->urls = { url };
    job->minimumSize = minimumSize;
    job->foreground = first;
    job->retryTimer.setSingleShot(true);
    QObject::connect(&job->retryTimer, &QTimer::timeout, &m_receiver, [this, raw = job.get()] {
        raw->state = Job::State::Ready;
        startReady();
    });
    m_byPath.insert(localPath, job.get());
    if (first)
        m_jobs.push_front(job);
    else
        m_jobs.push_back(job);
    return *job;
}

void BackgroundDownloader::startReady()
{
    for (const std::shared_ptr<Job>& job : m_jobs) {
        if (m_running >= m_host.limit())
            return;
        if (job->state != Job::State::Ready)
            continue;
        const RequestPacing::Clock::time_point now = RequestPacing::Clock::now();
        RequestPacing& pacing = m_pacing->of(job->urls.at(job->current));
        if (const std::chrono::milliseconds wait = pacing.waitBeforeNext(now); wait.count() > 0) {
            m_paceEnd.start(wait);
            return;
        }
        pacing.onStarted(now);
        begin(*job);
    }
}

void BackgroundDownloader::begin(Job& job)
{
    QNetworkAccessManager& manager = m_managers.acquire();
    job.transfer = std::make_unique<FileTransfer>(manager, m_committer, job.urls.at(job.current),
        job.path, job.minimumSize, m_idleTimeout, m_access, job.watch);
    job.manager = &manager;
    ++m_running;
    job.state = Job::State::Running;
    QObject::connect(job.transfer.get(), &FileTransfer::received, &m_receiver, [this, &job] {
        release(job);
        startReady();
    });
    QObject::connect(job.transfer.get(), &FileTransfer::finished, &m_receiver,
        [this, &job] { onTransferEnd(job); });
}

void BackgroundDownloader::release(Job& job)
{
    if (!job.manager)
        return;
    m_managers.release(*job.manager);
    job.manager = nullptr;
    --m_running;
}

void BackgroundDownloader::onTransferEnd(Job& job)
{
    const FileTransfer::Outcome outcome = job.transfer->outcome();
    const ReplyVerdict verdict = job.transfer->verdict();
    RequestPacing& pacing = m_pacing->of(job.urls.at(job.current));
    job.transfer.reset();
    release(job);

    if (outcome == FileTransfer::Outcome::Failed) {
        job.failure = verdict.reason;
        if (verdict.kind == ReplyVerdict::Kind::Throttled) {
            m_host.onThrottled();
            pacing.onThrottled(RequestPacing::Clock::now());
        }
        // After a stop no retry waits: the picture has failed for this run.
        const std::optional<std::chrono::milliseconds> delay
            = m_stop.isSet() ? std::nullopt : m_policy.nextTry(job.tries, verdict);
        if (delay)
            retryLater(job, *delay);
        else
            giveUpAddress(job, verdict);
    } else {
        if (outcome == FileTransfer::Outcome::Done) {
            m_host.onSuccess();
            pacing.onSuccess(RequestPacing::Clock::now());
        }
        finish(job, true);
    }
    startReady();
    wake();
}

void BackgroundDownloader::retryLater(Job& job, std::chrono::milliseconds delay)
{
    job.state = Job::State::Waiting;
    job.retryTimer.start(delay);
}

void BackgroundDownloader::giveUpAddress(Job& job, const ReplyVerdict& verdict)
{
    job.failure = verdict.reason;
    job.failureMayPass = verdict.mayPass();
    if (job.foreground) {
        finish(job, false);
        return;
    }
    if (m_onFailure)
        m_onFailure(job.urls.at(job.current), verdict.reason, verdict.mayPass());
    if (!m_stop.isSet() && job.current + 1 < job.urls.size()) {
        ++job.current;
        job.tries = {};
        job.state = Job::State::Ready;
        return;
    }
    finish(job, false);
}

void BackgroundDownloader::finish(Job& job, bool succeeded)
{
    job.state = Job::State::Over;
    job.succeeded = succeeded;
    if (!succeeded && m_stopsDuringWait.value_or(0) >= 2)
        m_abandoned.insert(job.path);
    job.retryTimer.stop();
    m_byPath.remove(job.path);
    // DownloadFile holds its own job until it has read the result.
    m_jobs.remove_if([&job](const std::shared_ptr<Job>& j) { return j.get() == &job; });
    wake();
}

void BackgroundDownloader::onStop()
{
    if (m_stopsDuringWait && ++*m_stopsDuringWait >= 2) {
        endJobs([](const Job&) { return true; });
        return;
    }
    endJobs([](const Job& job) { return job.foreground || job.state == Job::State::Waiting; });
}

template <typename Which> void BackgroundDownloader::endJobs(Which which)
{
    std::vector<Job*> ending;
    for (const std::shared_ptr<Job>& job : m_jobs) {
        // A transfer that has ended already, or whose file is on its way to
        // disk, is handled when its end arrives.
        const FileTransfer* transfer = job->transfer.get();
        if (which(*job)
            && !(transfer
                && (transfer->outcome() != FileTransfer::Outcome::Running
                    || transfer->isCommitting())))
            ending.push_back(job.get());
    }
    for (Job* job : ending) {
        if (job->transfer) {
            job->transfer->cancel();
            job->failure = job->transfer->verdict().reason;
            job->transfer.reset();
            release(*job);
        }
        if (job->failure.isEmpty())
            job->failure = FileTransfer::CancelledReason;
        giveUpAddress(*job, { ReplyVerdict::Kind::Passing, job->failure, std::nullopt });
    }
    startReady();
    wake();
}

template <typename Done> void BackgroundDownloader::waitUntil(Done done)
{
    if (done())
        return;
    QEventLoop loop;
    m_waits.push_back(&loop);
    while (!done())
        loop.exec();
    m_waits.erase(std::find(m_waits.begin(), m_waits.end(), &loop));
}

void BackgroundDownloader::wake()
{
    for (QEventLoop* loop : m_waits)
        loop->quit();
}

} // namespace zp
