#pragma once

#include "kaPersistentControl.h"

#include <QLineEdit>

// A single-line edit that keeps its text under "String". Every change of the
// text outside a restore counts as a modification, also for a non-remanent
// edit, whose written value is simply never read back.
class TkaEdit : public QLineEdit, public TkaPersistentControl {
    Q_OBJECT
public:
    explicit TkaEdit(QWidget* parent = nullptr);
    ~TkaEdit() override;

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void RestoreValue() override;
    void WriteValue() override;
};
