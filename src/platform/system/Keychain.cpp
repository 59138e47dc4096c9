#include "platform/system/Keychain.h"

#include <QCoroSignal>
#include <qt6keychain/keychain.h>

#include <memory>

namespace fernhollow::Keychain {
namespace {

template <typename Job> std::unique_ptr<Job> makeJob(const QString& account) {
    auto job = std::make_unique<Job>(QLatin1String(service));
    // We own the job, so it outlives the queued delivery of its own finished signal.
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

// Starts the job from the event loop once this coroutine waits for it, so that even a job
// that finishes at once is not missed; the event loop is never re-entered.
QCoro::Task<> run(QKeychain::Job& job) {
    QMetaObject::invokeMethod(&job, &QKeychain::Job::start, Qt::QueuedConnection);
    co_await qCoro(&job, &QKeychain::Job::finished);
}

} // namespace

QCoro::Task<bool> set(QString secret, QString account) {
    const auto job = makeJob<QKeychain::WritePasswordJob>(account);
    job->setTextData(secret);
    co_await run(*job);
    co_return job->error() == QKeychain::NoError;
}

QCoro::Task<std::optional<QString>> get(QString account) {
    const auto job = makeJob<QKeychain::ReadPasswordJob>(account);
    co_await run(*job);
    if (job->error() != QKeychain::NoError) {
        co_return std::nullopt;
    }
    co_return job->textData();
}

QCoro::Task<bool> remove(QString account) {
    const auto job = makeJob<QKeychain::DeletePasswordJob>(account);
    co_await run(*job);
    co_return job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
}

} // namespace fernhollow::Keychain
