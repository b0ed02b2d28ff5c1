#include "frSetup.h"

#include "EkaError.h"
#include "TkaDialogs.h"
#include "kaCheckBox.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaHotkey.h"
#include "kaLabel.h"
#include "kaPanel.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString SoundsFolder = QStringLiteral("Sounds");
const QString SoundFileName = QStringLiteral("Motion.wav");
constexpr int GroupGap = 6;
constexpr int PortEditWidth = 65;

} // namespace

TSetupFrame::TSetupFrame(QObject* owner, QWidget* parent) : QWidget(parent) {
    SetOwner(this, owner, QStringLiteral("SetupFrame1"));

    NotifykaPanel = Own(this, new TkaPanel(this), "NotifykaPanel");
    NotifykaPanel->setFrameShape(QFrame::Panel);
    NotifykaPanel->setFrameShadow(QFrame::Sunken);
    PopupkaCheckBox = NewCheckBox("PopupkaCheckBox", "Popup on new Image", true, NotifykaPanel);
    SoundkaCheckBox =
        NewCheckBox("SoundkaCheckBox", "Play Sound on new Image", true, NotifykaPanel);

    SceneDirSpeedButton = Own(this, new QToolButton(NotifykaPanel), "SceneDirSpeedButton");
    SceneDirSpeedButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SceneDirSpeedButton->setToolTip(QStringLiteral("Select a sound"));
    SceneDirSpeedButton->setAutoRaise(true);
    connect(SceneDirSpeedButton, &QToolButton::clicked, this,
            &TSetupFrame::SceneDirSpeedButtonClick);
    SoundkaEdit = Own(this, new TkaEdit(NotifykaPanel), "SoundkaEdit");
    SoundkaEdit->SetRemanent(true);
    WaitPopupFrame =
        NewTrackbarFrame("WaitPopupFrame", "Notify again after [s]", 300, 30, 60, DefaultWaitPopup);
    WaitPopupFrame->setParent(NotifykaPanel);

    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(SceneDirSpeedButton);
    soundRow->addWidget(SoundkaEdit, 1);
    auto* notify = new QVBoxLayout(NotifykaPanel);
    notify->setContentsMargins(6, 6, 6, 6);
    notify->addWidget(PopupkaCheckBox);
    notify->addWidget(SoundkaCheckBox);
    notify->addLayout(soundRow);
    notify->addWidget(WaitPopupFrame);

    CacheFrame =
        NewTrackbarFrame("CacheFrame", "Size of Image-cache", 100, 10, 10, DefaultCacheSize);
    MinimizekaCheckBox = NewCheckBox("MinimizekaCheckBox", "Startup minimized", false, this);
    AutoSwitchCheckBox =
        NewCheckBox("AutoSwitchCheckBox", "Switch to Cam with newest image", true, this);
    StretchkaCheckBox = NewCheckBox("StretchkaCheckBox", "Resize image", true, this);
    ShowToolbarCheckBox = NewCheckBox("ShowToolbarCheckBox", "Show Toolbar", true, this);

    UDPPortkaEdit = Own(this, new TkaEdit(this), "UDPPortkaEdit");
    UDPPortkaEdit->setFixedWidth(PortEditWidth);
    UDPPortkaEdit->SetRemanent(true);
    UDPPortkaEdit->setText(QString::fromLatin1(DefaultPort));
    // Digits only, while Backspace, Ctrl+A and the other editing keys work.
    UDPPortkaEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}")), UDPPortkaEdit));
    UDPPortkaLabel = Own(this, new TkaLabel(QStringLiteral("UDPPort:"), this), "UDPPortkaLabel");
    UDPPortkaLabel->setBuddy(UDPPortkaEdit);

    auto* portRow = new QHBoxLayout;
    portRow->setContentsMargins(8, 0, 0, 0);
    portRow->addWidget(UDPPortkaLabel);
    portRow->addWidget(UDPPortkaEdit);
    portRow->addStretch();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);
    column->addWidget(NotifykaPanel);
    column->addSpacing(GroupGap);
    column->addWidget(CacheFrame);
    for (TkaCheckBox* box :
         {MinimizekaCheckBox, AutoSwitchCheckBox, StretchkaCheckBox, ShowToolbarCheckBox})
        column->addWidget(box);
    column->addLayout(portRow);
    column->addStretch();

    const QString sounds = ResourceDir() + SoundsFolder;
    if (!QFileInfo(sounds).isDir() && !QDir().mkdir(sounds))
        throw EkaError(QStringLiteral("Error creating Directory ") + sounds);
    SoundkaEdit->setText(DefaultSoundFile());
    Own(this, new TkaHotkey(this), "kaHotkey");
}

TkaCheckBox* TSetupFrame::NewCheckBox(const char* name, const char* caption, bool checked,
                                      QWidget* parent) {
    auto* box = Own(this, new TkaCheckBox(QString::fromUtf8(caption), parent), name);
    box->setChecked(checked);
    box->SetRemanent(true);
    return box;
}

TkaTrackbarFrame* TSetupFrame::NewTrackbarFrame(const char* name, const char* caption, int max,
                                                int pageSize, int frequency, int position) {
    auto* frame = Own(this, new TkaTrackbarFrame(this), name);
    frame->kaLabel1->setText(QString::fromUtf8(caption));
    TkaTrackBar* bar = frame->TrackBar;
    bar->SetMin(1);
    bar->SetMax(max);
    bar->setPageStep(pageSize);
    bar->SetFrequency(frequency);
    bar->SetPosition(position);
    frame->setMinimumHeight(frame->sizeHint().height());
    return frame;
}

QString TSetupFrame::DefaultSoundFile() {
    return IncludeBackslash(ResourceDir() + SoundsFolder) + SoundFileName;
}

void TSetupFrame::SceneDirSpeedButtonClick() {
    const QString current = SoundkaEdit->text();
    try {
        const QString chosen = Dialogs().OpenFileName(QStringLiteral("Select a sound"), current,
                                                      QString::fromLatin1(SoundFilter));
        if (!chosen.isEmpty())
            SoundkaEdit->setText(QFileInfo(chosen).absoluteFilePath());
    } catch (const std::exception&) {
        // A dialog that cannot be shown leaves no doubtful path behind.
        SoundkaEdit->clear();
    }
}
