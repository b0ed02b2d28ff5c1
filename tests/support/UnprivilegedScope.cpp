#include "UnprivilegedScope.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr uid_t Nobody = 65534;
}

UnprivilegedScope::UnprivilegedScope() : SavedUid(geteuid()), SavedGid(getegid()) {
    if (SavedUid == 0) {
        // The group first: once the user is not root it may not change it.
        (void)setegid(Nobody);
        (void)seteuid(Nobody);
    }
}

UnprivilegedScope::~UnprivilegedScope() {
    if (SavedUid == 0) {
        (void)seteuid(0);
        (void)setegid(SavedGid);
    }
}

void OpenPathForEverybody(const char* path) {
    std::string p(path);
    while (!p.empty() && p != "/") {
        struct stat st {};
        if (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            chmod(p.c_str(), st.st_mode | S_IXOTH | S_IROTH);
        const auto slash = p.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            break;
        p.resize(slash);
    }
}
