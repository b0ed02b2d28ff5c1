#pragma once

#include "kaPersistentControl.h"

#include <QCheckBox>

// A check box that keeps its check state under "Boolean".
class TkaCheckBox : public QCheckBox, public TkaPersistentControl {
    Q_OBJECT
public:
    explicit TkaCheckBox(QWidget* parent = nullptr);
    explicit TkaCheckBox(const QString& text, QWidget* parent = nullptr);
    ~TkaCheckBox() override;

signals:
    // The click event: every change of the check state, by the user, by program
    // code or by the restore.
    void OnClick();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void RestoreValue() override;
    void WriteValue() override;
};
