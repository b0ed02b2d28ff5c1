#include "OwnSceneLog.h"

void TOwnSceneLog::Note(const QString& dayDir, const QString& sceneName,
                        const std::optional<TDirectoryState>& before,
                        const std::optional<TDirectoryState>& after) {
    const std::lock_guard lock(FMutex);
    FEntries.push_back(TEntry{++FLastNumber, dayDir, sceneName, before, after});
    if (FEntries.size() > Capacity)
        FEntries.pop_front();
}

std::vector<TOwnSceneLog::TEntry> TOwnSceneLog::Entries() const {
    const std::lock_guard lock(FMutex);
    return {FEntries.begin(), FEntries.end()};
}
