#include "kaPersistentControl.h"

#include "EkaError.h"

namespace {

// Sets a flag for the lifetime of the scope and restores it also when the
// scope is left by an error.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : Flag(flag), Previous(flag) { Flag = true; }
    ~FlagScope() { Flag = Previous; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& Flag;
    bool Previous;
};

} // namespace

void TkaPersistentControl::SetModified(bool value) {
    FModified = value;
}

void TkaPersistentControl::Loaded() {
    if (FRemanent)
        RegisterRemanentControl(Self);
}

void TkaPersistentControl::RestoreRemanent() {
    if (!FRemanent)
        return;
    FlagScope restoring(FRestoring);
    RestoreValue();
}

void TkaPersistentControl::NoteChange() {
    if (FRemanent && !FRestoring && !IsLoading(Self))
        SetModified(true);
}

void TkaPersistentControl::SaveModified() {
    if (!FModified)
        return;
    WriteValue();
    // Cleared only after a successful write, so a refused write is tried again.
    FModified = false;
}

void TkaPersistentControl::SaveModifiedOnDestroy() noexcept {
    // An error must not leave a destructor; the value is lost, as it would be
    // after a crash.
    try {
        SaveModified();
    } catch (const EkaError&) {
    }
}
