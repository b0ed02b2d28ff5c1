#pragma once

#include "kaPersistentControl.h"

#include <QComboBox>

// A combo box that keeps its text under "String". The user's selections and
// typing count as modifications; a selection by program code counts only when
// made with SelectItemIndex. Owners follow currentIndexChanged/currentTextChanged,
// which the restore fires when it selects another item.
class TkaComboBox : public QComboBox, public TkaPersistentControl {
    Q_OBJECT
public:
    explicit TkaComboBox(QWidget* parent = nullptr);
    ~TkaComboBox() override;

    // Selects the item at Index, when it is not selected yet, and marks the box
    // modified so the choice is saved like the user's.
    void SelectItemIndex(int index);

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void RestoreValue() override;
    void WriteValue() override;
};
