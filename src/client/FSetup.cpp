#include "FSetup.h"
#include "kaLanguage.h"

#include "frSetup.h"
#include "kaPanel.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int BottomPanelHeight = 43;
constexpr int CloseButtonWidth = 113;
constexpr int CloseButtonHeight = 25;

} // namespace

TSetupForm::TSetupForm(QWidget* parent) : QDialog(parent) {
    SetOwner(this, nullptr, QStringLiteral("SetupForm"));
    setWindowTitle(QStringLiteral("Setup"));
    setModal(true);

    ClientkaPanel = Own(this, new TkaPanel(this), "ClientkaPanel");
    ClientkaPanel->setFrameShape(QFrame::Panel);
    ClientkaPanel->setFrameShadow(QFrame::Sunken);
    SetupFrame1 = new TSetupFrame(this, ClientkaPanel);
    auto* client = new QVBoxLayout(ClientkaPanel);
    client->setContentsMargins(1, 1, 1, 1);
    client->addWidget(SetupFrame1);

    BottomkaPanel = Own(this, new TkaPanel(this), "BottomkaPanel");
    BottomkaPanel->setFrameShape(QFrame::NoFrame);
    BottomkaPanel->setFixedHeight(BottomPanelHeight);
    CloseButton = Own(this, new QPushButton(QStringLiteral("Close"), BottomkaPanel), "CloseButton");
    CloseButton->setMinimumSize(CloseButtonWidth, CloseButtonHeight);
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &TSetupForm::CloseButtonClick);
    auto* bottom = new QHBoxLayout(BottomkaPanel);
    bottom->addStretch();
    bottom->addWidget(CloseButton);
    bottom->addStretch();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 0);
    column->setSpacing(0);
    column->addWidget(ClientkaPanel, 1);
    column->addWidget(BottomkaPanel);
    Own(this, new TkaLanguage(this), "kaLanguage1");
}

void TSetupForm::Loaded() {
    // A fixed dialog border: the designed size, grown where the font needs more.
    setFixedSize(QSize(DesignedWidth, DesignedHeight).expandedTo(sizeHint()));
}

void TSetupForm::CloseButtonClick() {
    accept();
}

void TSetupForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
