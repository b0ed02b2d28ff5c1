#pragma once

#include "kaSceneFiles.h"

#include <QString>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

// The scenes one scene maker created, each with its day directory just before
// and just after, so that the small-scene sweep, which runs later on another
// thread, can tell the maker's own changes of a day from anyone else's and
// never takes a scene the maker began after the one it sweeps for. Written on
// the maker's thread, read on the sweep's; holds the newest Capacity entries.
class TOwnSceneLog {
public:
    static constexpr std::size_t Capacity = 256;

    struct TEntry {
        // Counts from 1 in the order the scenes were made.
        quint64 Number = 0;
        QString DayDir;
        QString SceneName;
        // Missing when the day could not be looked at: no change to follow.
        std::optional<TDirectoryState> Before;
        std::optional<TDirectoryState> After;
    };

    void Note(const QString& dayDir, const QString& sceneName,
              const std::optional<TDirectoryState>& before,
              const std::optional<TDirectoryState>& after);
    // The entries held, oldest first.
    std::vector<TEntry> Entries() const;

private:
    mutable std::mutex FMutex;
    std::deque<TEntry> FEntries;
    quint64 FLastNumber = 0;
};
