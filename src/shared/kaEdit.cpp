#include "kaEdit.h"

TkaEdit::TkaEdit(QWidget* parent) : QLineEdit(parent), TkaPersistentControl(this) {
    // Program changes and the designed text count too.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!Restoring())
            SetModified(true);
    });
}

TkaEdit::~TkaEdit() {
    SaveModifiedOnDestroy();
}

void TkaEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    SaveModified();
}

void TkaEdit::RestoreValue() {
    // textChanged fires only when the stored text differs.
    setText(ReadStringSetting(this, text()));
}

void TkaEdit::WriteValue() {
    WriteStringSetting(this, text());
}
