#include "kaAction.h"

#include "kaActionList.h"
#include "kaGeneral.h"

TkaAction::TkaAction(QObject* parent) : QAction(parent) {
    if (auto* list = qobject_cast<TkaActionList*>(parent))
        list->AddAction(this);
}

void TkaAction::Loaded() {
    if (!FRemanent)
        return;
    struct Finish {
        TkaAction* Action;
        ~Finish() {
            Action->FRestoreDone = true;
            Action->FRestoring = false;
        }
    } finish{this};
    FRestoring = true;
    setChecked(ReadBoolSetting(this, isChecked()));
    FSavedChecked = isChecked();
}

void TkaAction::Update() {
    emit OnUpdate();
    SaveChecked();
}

void TkaAction::SaveChecked() {
    if (!FRemanent || !FRestoreDone || FRestoring || isChecked() == FSavedChecked)
        return;
    // Taken as saved before the write: a refused write is reported once per
    // change, not at every idle pass.
    FSavedChecked = isChecked();
    WriteBoolSetting(this, FSavedChecked);
}
