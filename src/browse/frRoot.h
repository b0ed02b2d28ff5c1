#pragma once

#include "TreeNodeFrame.h"

#include <functional>

class TkaLabel;
class TkaPanel;
class QPushButton;

// The page of the tree's root and help nodes: the program's name and version
// on a panel that stays centred in the page.
class TRootFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    explicit TRootFrame(QObject* owner = nullptr, QWidget* parent = nullptr);

    // "Tarvik" followed by the program's version.
    static QString ProductTitle();

    TkaPanel* kaPanel = nullptr;
    TkaLabel* TitlekaLabel = nullptr;
    TkaLabel* DescriptionkaLabel = nullptr;
    QPushButton* NetworkCamerasButton = nullptr;
    // One line for a start without a camera: a network camera or the demo one.
    TkaLabel* FirstStartkaLabel = nullptr;
    QPushButton* OffsiteCopyButton = nullptr;
    // Runs when the off-site settings were changed in their dialog.
    std::function<void()> OnOffsiteCopyChanged;

    // Opens the "Network cameras" dialog.
    void NetworkCamerasButtonClick();
    // The hint in the active language, with the configuration file's path.
    void ShowFirstStartText();
    // Opens the "Off-site copy" dialog.
    void OffsiteCopyButtonClick();
};
