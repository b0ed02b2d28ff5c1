#pragma once

#include "kaComponent.h"

#include <QAction>

// An action that keeps its Checked state under "Boolean". A remanent action
// restores itself while its form loads and saves a changed state after the
// next update pass of its action list.
class TkaAction : public QAction, public TkaLoadable {
    Q_OBJECT
public:
    // An action created with a TkaActionList as parent joins that list.
    explicit TkaAction(QObject* parent = nullptr);

    bool Remanent() const { return FRemanent; }
    void SetRemanent(bool value) { FRemanent = value; }
    bool Restoring() const { return FRestoring; }
    // The state last read or written.
    bool SavedChecked() const { return FSavedChecked; }
    // Set once the load-time restore has finished, also when it failed.
    bool RestoreDone() const { return FRestoreDone; }

    void Loaded() override;
    // One update pass: the update handlers, then the save of a changed state.
    void Update();

signals:
    void OnUpdate();

private:
    void SaveChecked();

    bool FRemanent = false;
    bool FRestoring = false;
    bool FSavedChecked = false;
    bool FRestoreDone = false;
};
