#pragma once

#include "kaPersistentControl.h"

#include <QSlider>

// A horizontal track bar that keeps its position under "Integer". OnChange
// is its change notification: every move of the position, and once more from
// the restore when the stored value equals the position, so an owner always
// learns the restored value.
class TkaTrackBar : public QSlider, public TkaPersistentControl {
    Q_OBJECT
public:
    explicit TkaTrackBar(QWidget* parent = nullptr);
    ~TkaTrackBar() override;

    int Min() const { return minimum(); }
    void SetMin(int value) { setMinimum(value); }
    int Max() const { return maximum(); }
    void SetMax(int value) { setMaximum(value); }
    int Position() const { return value(); }
    void SetPosition(int value) { setValue(value); }
    // Distance between tick marks.
    int Frequency() const { return tickInterval(); }
    void SetFrequency(int value) { setTickInterval(value); }

signals:
    void OnChange();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void RestoreValue() override;
    void WriteValue() override;

private:
    void Changed();
};
