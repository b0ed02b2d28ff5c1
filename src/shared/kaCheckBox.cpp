#include "kaCheckBox.h"

TkaCheckBox::TkaCheckBox(QWidget* parent) : TkaCheckBox(QString(), parent) {}

TkaCheckBox::TkaCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent), TkaPersistentControl(this) {
    connect(this, &QCheckBox::stateChanged, this, [this] {
        NoteChange();
        emit OnClick();
    });
}

TkaCheckBox::~TkaCheckBox() {
    SaveModifiedOnDestroy();
}

void TkaCheckBox::focusOutEvent(QFocusEvent* event) {
    QCheckBox::focusOutEvent(event);
    SaveModified();
}

void TkaCheckBox::RestoreValue() {
    // A different state fires OnClick through stateChanged.
    setChecked(ReadBoolSetting(this, isChecked()));
}

void TkaCheckBox::WriteValue() {
    WriteBoolSetting(this, isChecked());
}
