#include "kaTrackBar.h"

TkaTrackBar::TkaTrackBar(QWidget* parent)
    : QSlider(Qt::Horizontal, parent), TkaPersistentControl(this) {
    connect(this, &QSlider::valueChanged, this, &TkaTrackBar::Changed);
}

TkaTrackBar::~TkaTrackBar() {
    SaveModifiedOnDestroy();
}

void TkaTrackBar::focusOutEvent(QFocusEvent* event) {
    QSlider::focusOutEvent(event);
    SaveModified();
}

void TkaTrackBar::RestoreValue() {
    const int stored = ReadIntegerSetting(this, Position());
    if (stored == Position())
        Changed();
    // Clamped to Min..Max; notifies by itself when the position moves.
    SetPosition(stored);
}

void TkaTrackBar::WriteValue() {
    WriteIntegerSetting(this, Position());
}

void TkaTrackBar::Changed() {
    NoteChange();
    emit OnChange();
}
