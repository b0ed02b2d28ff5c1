#include "SceneDeleter.h"

#include "ApplicationErrors.h"
#include "kaGeneral.h"

#include <QMetaObject>

namespace {

TkaMessage& CannotDeleteMessage() {
    static TkaMessage message(QStringLiteral("SCENEDELETER_MSG_CANNOTDELETE"),
                              QStringLiteral("Recordings could not be deleted"));
    return message;
}

} // namespace

TSceneDeleter::TSceneDeleter(QObject* parent) : QObject(parent), Worker([this] { Work(); }) {}

TSceneDeleter::~TSceneDeleter() {
    Control.Stop = true;
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Ending = true;
        Queue.clear();
    }
    Wake.notify_one();
    Worker.join();
}

void TSceneDeleter::RegisterMessages() {
    CannotDeleteMessage().Handle();
}

void TSceneDeleter::Run(const QString& key, TJob job) {
    const std::uint64_t id = NextId++;
    Jobs.emplace(id, key);
    Running.insert(key, id);
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Queue.push_back({id, std::move(job)});
    }
    Wake.notify_one();
}

bool TSceneDeleter::Deleting(const QString& path) const {
    for (auto key = Running.keyBegin(); key != Running.keyEnd(); ++key) {
        if (!key->isEmpty() && (path == *key || path.startsWith(IncludeBackslash(*key))))
            return true;
    }
    return false;
}

void TSceneDeleter::Post(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void TSceneDeleter::Work() {
    for (;;) {
        TQueued next;
        {
            std::unique_lock<std::mutex> guard(Lock);
            Wake.wait(guard, [this] { return Ending || !Queue.empty(); });
            if (Ending)
                return;
            next = std::move(Queue.front());
            Queue.pop_front();
        }
        Control.Failure.clear();
        try {
            next.Job(Control);
        } catch (const std::exception& error) {
            Control.Failure = QString::fromLocal8Bit(error.what());
        }
        Control.PendingBytes = 0;
        const QString failure = Control.Failure;
        const std::uint64_t id = next.Id;
        next.Job = nullptr; // what it holds goes here, not on the main thread
        Post([this, id, failure] { Finished(id, failure); });
    }
}

void TSceneDeleter::Finished(std::uint64_t id, const QString& failure) {
    const auto job = Jobs.find(id);
    if (job == Jobs.end())
        return;
    const QString key = job->second;
    Jobs.erase(job);
    Running.remove(key, id);
    if (failure.isEmpty()) {
        Failing.remove(key);
        return;
    }
    if (Failing.contains(key))
        return;
    Failing.insert(key);
    HandleApplicationError(
        ESceneDeletion(CannotDeleteMessage().Text() + QStringLiteral(": ") + failure));
}
