#pragma once

#include "TreeNodeFrame.h"

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

    // Opens the "Network cameras" dialog.
    void NetworkCamerasButtonClick();
    // The hint in the active language, with the configuration file's path.
    void ShowFirstStartText();
};
