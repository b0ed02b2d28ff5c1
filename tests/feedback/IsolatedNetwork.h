#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

// Moves the calling thread (and the threads it starts, such as libcurl's
// resolver) into a network namespace of its own for its lifetime: no
// interface is up there, so a name lookup fails at once and no query ever
// leaves the machine. Needs root; Active() tells whether it worked.
class IsolatedNetwork {
public:
    IsolatedNetwork() : Saved(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        FActive = Saved >= 0 && unshare(CLONE_NEWNET) == 0;
    }
    ~IsolatedNetwork() {
        if (FActive)
            setns(Saved, CLONE_NEWNET);
        if (Saved >= 0)
            close(Saved);
    }
    IsolatedNetwork(const IsolatedNetwork&) = delete;
    IsolatedNetwork& operator=(const IsolatedNetwork&) = delete;

    bool Active() const { return FActive; }

private:
    int Saved;
    bool FActive = false;
};
