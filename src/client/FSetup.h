#pragma once

#include "kaComponent.h"

#include <QDialog>

class QPushButton;
class TkaPanel;
class TSetupFrame;

// The client's settings dialog: one frame of controls that take effect at
// once, and a Close button. It lives from the start of the program to its end.
class TSetupForm : public QDialog, public TkaLoadable {
    Q_OBJECT
public:
    static constexpr int DesignedWidth = 271;
    static constexpr int DesignedHeight = 375;

    explicit TSetupForm(QWidget* parent = nullptr);

    void Loaded() override;
    void CloseButtonClick();

    TkaPanel* ClientkaPanel = nullptr;
    TSetupFrame* SetupFrame1 = nullptr;
    TkaPanel* BottomkaPanel = nullptr;
    QPushButton* CloseButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
