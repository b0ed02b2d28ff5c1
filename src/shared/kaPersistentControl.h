#pragma once

#include "kaComponent.h"
#include "kaGeneral.h"

#include <QObject>
#include <QString>

// What the remanent edit, check box, combo box and track bar share: the
// Remanent, Restoring and Modified members, registration after loading, the
// restore frame and the write when the focus leaves or the control is destroyed.
class TkaPersistentControl : public TkaLoadable, public TkaRemanentControl {
public:
    bool Remanent() const { return FRemanent; }
    void SetRemanent(bool value) { FRemanent = value; }
    // True while the control takes its value from the configuration file.
    bool Restoring() const { return FRestoring; }
    // True when the value changed since it was last written.
    bool Modified() const { return FModified; }
    void SetModified(bool value);

    void Loaded() override;
    void RestoreRemanent() final;

protected:
    explicit TkaPersistentControl(QObject* self) : Self(self) {}

    // Takes the value from the configuration file; runs with Restoring set.
    virtual void RestoreValue() = 0;
    // Writes the current value with the typed setting of the control's section.
    virtual void WriteValue() = 0;

    // A change notification of a check box, combo box or track bar: counts as a
    // modification only for a remanent control that is neither restoring nor loading.
    void NoteChange();
    // Focus left the control: writes the value when modified.
    void SaveModified();
    // For the control's destructor, which must call it while the control is
    // still whole; never throws.
    void SaveModifiedOnDestroy() noexcept;

private:
    QObject* Self;
    bool FRemanent = false;
    bool FRestoring = false;
    bool FModified = false;
};
