#pragma once

#include "kaComponent.h"

#include <QFrame>

// A panel that, after loading, raises its minimum size so that no child it
// places itself can be cut off.
class TkaPanel : public QFrame, public TkaLoadable {
    Q_OBJECT
public:
    explicit TkaPanel(QWidget* parent = nullptr);

    bool ConstraintAuto() const { return FConstraintAuto; }
    void SetConstraintAuto(bool value) { FConstraintAuto = value; }
    // Width of the bevel, which is also the frame's line width.
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);

    void Loaded() override;

private:
    bool FConstraintAuto = true;
    int FBevelWidth = 1;
};
