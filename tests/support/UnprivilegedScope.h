#pragma once

#include <sys/types.h>

// Lets a test running as root meet file permissions: for its lifetime the
// effective user is "nobody". Without root it changes nothing, since
// permissions apply anyway.
class UnprivilegedScope {
public:
    UnprivilegedScope();
    ~UnprivilegedScope();
    UnprivilegedScope(const UnprivilegedScope&) = delete;
    UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

private:
    uid_t SavedUid;
    gid_t SavedGid;
};

// Makes Path and every directory above it traversable by everybody, so the
// unprivileged user can reach a test's temporary folder.
void OpenPathForEverybody(const char* path);
