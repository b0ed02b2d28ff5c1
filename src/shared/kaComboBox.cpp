#include "kaComboBox.h"

#include <QLineEdit>

TkaComboBox::TkaComboBox(QWidget* parent) : QComboBox(parent), TkaPersistentControl(this) {
    connect(this, &QComboBox::activated, this, [this] { NoteChange(); });
    // The line edit of an editable box is marked modified only by typing; the
    // box itself sets its text unmarked.
    connect(this, &QComboBox::editTextChanged, this, [this] {
        if (lineEdit() != nullptr && lineEdit()->isModified())
            NoteChange();
    });
}

TkaComboBox::~TkaComboBox() {
    SaveModifiedOnDestroy();
}

void TkaComboBox::SelectItemIndex(int index) {
    if (index == currentIndex())
        return;
    setCurrentIndex(index);
    SetModified(true);
}

void TkaComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    SaveModified();
}

void TkaComboBox::RestoreValue() {
    const QString stored = ReadStringSetting(this, currentText());
    int index = findText(stored, Qt::MatchFixedString); // letter case ignored
    // An empty text is shown by selecting nothing rather than by a blank item.
    if (index < 0 && !stored.isEmpty()) {
        addItem(stored);
        index = count() - 1;
    }
    if (index != currentIndex())
        setCurrentIndex(index);
}

void TkaComboBox::WriteValue() {
    WriteStringSetting(this, currentText());
}
