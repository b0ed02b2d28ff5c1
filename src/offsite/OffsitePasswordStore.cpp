#include "OffsitePasswordStore.h"

#include <qt6keychain/keychain.h>

namespace {

const QString Service = QStringLiteral("Tarvik");

} // namespace

QString TOffsitePasswordStore::Key() {
    return QStringLiteral("Offsite");
}

void TOffsitePasswordStore::Read(
    std::function<void(const QString& password, const QString& error)> done) {
    auto* job = new QKeychain::ReadPasswordJob(Service, this);
    job->setAutoDelete(true);
    job->setKey(Key());
    connect(job, &QKeychain::Job::finished, this, [done](QKeychain::Job* finished) {
        auto* read = static_cast<QKeychain::ReadPasswordJob*>(finished);
        if (read->error() == QKeychain::EntryNotFound)
            done(QString(), QString());
        else if (read->error() != QKeychain::NoError)
            done(QString(), read->errorString());
        else
            done(read->textData(), QString());
    });
    job->start();
}

void TOffsitePasswordStore::Write(const QString& password,
                                  std::function<void(const QString& error)> done) {
    QKeychain::Job* job = nullptr;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(Service, this);
    } else {
        auto* write = new QKeychain::WritePasswordJob(Service, this);
        write->setTextData(password);
        job = write;
    }
    job->setAutoDelete(true);
    job->setKey(Key());
    connect(job, &QKeychain::Job::finished, this, [done, password](QKeychain::Job* finished) {
        const bool fine = finished->error() == QKeychain::NoError ||
                          (password.isEmpty() && finished->error() == QKeychain::EntryNotFound);
        done(fine ? QString() : finished->errorString());
    });
    job->start();
}
