#include "frScene.h"

#include "ApplicationErrors.h"
#include "DiskSpace.h"
#include "PathTreeNodeObject.h"
#include "SceneDeleter.h"
#include "SceneRetention.h"
#include "TkaDialogs.h"
#include "kaCheckBox.h"
#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaLanguage.h"
#include "kaPanel.h"
#include "kaSceneFiles.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreeView.h"

#include <QBoxLayout>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QPointer>
#include <QScopeGuard>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidgetItem>

namespace {

constexpr int PanelWidth = 257;
constexpr int PanelHeight = 397;
const QString SceneDirKey = QStringLiteral("SceneDir");
const QString NoFreeSpace = QStringLiteral("- ");

TkaMessage& FailureMessage() {
    static TkaMessage message(QStringLiteral("FRSCENE_MSG_RECORDINGFAILS"),
                              QStringLiteral("Recording fails"));
    return message;
}

void SetTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

} // namespace

TSceneFrame::TSceneFrame(const QString& name, QWidget* parent) : TTreeNodeFrame(nullptr, parent) {
    // Named before its controls load, so their settings keys carry the name.
    setObjectName(name);
    BuildControls();
    // Run-time values, not texts to translate.
    ExcludeFromLanguage(SceneDirkaLabel);
    ExcludeFromLanguage(CurrentFreeLabel);
    ExcludeFromLanguage(RecordingFailurekaLabel);
    ExcludeFromLanguage(OffsitekaLabel);
    Own(this, new TkaLanguage(this), "kaLanguage1");
}

TSceneFrame::~TSceneFrame() {
    IncludeInLanguage(SceneDirkaLabel);
    IncludeInLanguage(CurrentFreeLabel);
    IncludeInLanguage(RecordingFailurekaLabel);
    IncludeInLanguage(OffsitekaLabel);
}

TkaTrackbarFrame* TSceneFrame::NewTrackbarFrame(const QString& name, const QString& caption,
                                                const QString& hint, int min, int max, int position,
                                                int frequency) {
    auto* frame = Own(this, new TkaTrackbarFrame(kaPanel), name);
    frame->kaLabel1->setText(caption);
    frame->setToolTip(hint);
    frame->TrackBar->SetMin(min);
    frame->TrackBar->SetMax(max);
    frame->TrackBar->SetFrequency(frequency);
    frame->TrackBar->SetPosition(position);
    return frame;
}

void TSceneFrame::BuildControls() {
    kaPanel = Own(this, new TkaPanel(this), "kaPanel");
    kaPanel->setFrameShape(QFrame::NoFrame);
    kaPanel->setMinimumSize(PanelWidth, PanelHeight);

    ActivekaCheckBox = Own(this, new TkaCheckBox(QStringLiteral("Scenemanager active"), kaPanel),
                           "ActivekaCheckBox");
    ActivekaCheckBox->setChecked(true);
    ActivekaCheckBox->SetRemanent(true);

    GroupBox = Own(this, new QGroupBox(QStringLiteral("Scene Directory"), kaPanel), "GroupBox");
    SceneDirSpeedButton = Own(this, new QToolButton(GroupBox), "SceneDirSpeedButton");
    SceneDirSpeedButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SceneDirSpeedButton->setAutoRaise(true);
    SceneDirSpeedButton->setToolTip(QStringLiteral("Select Scene Directory"));
    SceneDirkaLabel = Own(this, new TkaLabel(GroupBox), "SceneDirkaLabel");
    // A long path must not widen the page.
    SceneDirkaLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* directoryRow = new QHBoxLayout(GroupBox);
    directoryRow->addWidget(SceneDirSpeedButton);
    directoryRow->addWidget(SceneDirkaLabel, 1);

    MaxSceneskaTrackbarFrame = NewTrackbarFrame(
        "MaxSceneskaTrackbarFrame", "Max Scenes per Day:", "Maximum Count of Scenes per Day", 1,
        1000, 500, 100);
    MaxPickaTrackbarFrame = NewTrackbarFrame("MaxPickaTrackbarFrame", "Max Picture per Scene:",
                                             "Max Count of pictures per Scene", 1, 1000, 500, 100);
    MinPicsPerScenekaTrackbarFrame =
        NewTrackbarFrame("MinPicsPerScenekaTrackbarFrame", "Min Pictures per Scene:",
                         "Autodelete Scenes, which have less number of pictures", 1, 100, 1, 10);
    NewSceneTimeFrame = NewTrackbarFrame(
        "NewSceneTimeFrame", "Scene Time",
        "A new Scenedirectory will be create, if there is not Motiondection during this "
        "timeinterval",
        1, 600, 5, 60);
    MinDiskSpaceFrame =
        NewTrackbarFrame("MinDiskSpaceFrame", "Min DiskSpace [MByte]",
                         "Minimum Diskspace to write new pictures to disk", 10, 1000, 20, 100);
    MinDiskSpaceFrame->TrackBar->setSingleStep(10);
    MinDiskSpaceFrame->TrackBar->setPageStep(100);

    DeleteOldCheckBox =
        Own(this, new TkaCheckBox(QStringLiteral("Delete old scenes, if necessary"), kaPanel),
            "DeleteOldCheckBox");
    DeleteOldCheckBox->setChecked(false);
    DeleteOldCheckBox->SetRemanent(true);

    DiskLabel = Own(this, new TkaLabel(QStringLiteral("Disk Free:  "), kaPanel), "DiskLabel");
    CurrentFreeLabel = Own(this, new TkaLabel(NoFreeSpace, kaPanel), "CurrentFreeLabel");
    MBLabel = Own(this, new TkaLabel(QStringLiteral("MByte"), kaPanel), "MBLabel");
    RecordingFailurekaLabel = Own(this, new TkaLabel(kaPanel), "RecordingFailurekaLabel");
    RecordingFailurekaLabel->setWordWrap(true);
    RecordingFailurekaLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SetTextColor(RecordingFailurekaLabel, Qt::red);
    RecordingFailurekaLabel->hide();
    OffsitekaLabel = Own(this, new TkaLabel(kaPanel), "OffsitekaLabel");
    OffsitekaLabel->setWordWrap(true);
    OffsitekaLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    OffsitekaLabel->hide();

    kaSceneMaker = Own(this, new TkaSceneMaker(this), "kaSceneMaker");
    kaSceneMaker->OnNewScene = [this](QObject* sender, const QString& sPath) {
        kaSceneMakerNewScene(sender, sPath);
    };
    MaxPickaTrackbarFrame->OnTrackBarChange = [this](QObject* sender) {
        MaxPickaTrackbarFrameTrackBarChange(sender);
    };
    NewSceneTimeFrame->OnTrackBarChange = [this](QObject* sender) {
        NewSceneTimeFrameTrackBarChange(sender);
    };
    // Pass the designed values on, as the restore will pass the stored ones.
    MaxPickaTrackbarFrameTrackBarChange(MaxPickaTrackbarFrame->TrackBar);
    NewSceneTimeFrameTrackBarChange(NewSceneTimeFrame->TrackBar);
    connect(SceneDirSpeedButton, &QToolButton::clicked, this,
            &TSceneFrame::SceneDirSpeedButtonClick);

    auto* freeRow = new QHBoxLayout;
    freeRow->addWidget(DiskLabel);
    freeRow->addWidget(CurrentFreeLabel);
    freeRow->addWidget(MBLabel);
    freeRow->addStretch();

    auto* column = new QVBoxLayout(kaPanel);
    column->addWidget(ActivekaCheckBox);
    column->addWidget(GroupBox);
    for (TkaTrackbarFrame* frame :
         {MaxSceneskaTrackbarFrame, MaxPickaTrackbarFrame, MinPicsPerScenekaTrackbarFrame,
          NewSceneTimeFrame, MinDiskSpaceFrame})
        column->addWidget(frame);
    column->addWidget(DeleteOldCheckBox);
    column->addLayout(freeRow);
    column->addWidget(RecordingFailurekaLabel);
    column->addWidget(OffsitekaLabel);
    column->addStretch();

    CentrePanel(kaPanel);
}

void TSceneFrame::Loaded() {
    TTreeNodeFrame::Loaded();
    SetSceneDir(ReadComponentSetting(this, SceneDirKey, FSceneDir));
}

void TSceneFrame::SetSceneDir(const QString& value) {
    if (value == FSceneDir)
        return;
    FSceneDir = value;
    if (!value.isEmpty())
        QDir().mkpath(value); // failure ignored: nothing is stored until it exists
    kaSceneMaker->SetSceneDir(value);
    SceneDirkaLabel->setText(value);
    SceneDirkaLabel->setToolTip(value);
    if (FSceneNode != nullptr) {
        FSceneNode->setExpanded(false);
        if (auto* object = dynamic_cast<TPathTreeNodeObject*>(TkaTreeView::NodeObject(FSceneNode)))
            object->SetPath(value);
    }
    // Last: a setting that cannot be stored (a read-only "Cfg") is reported,
    // and the camera records into the folder all the same. The stored folder
    // read back at start is not written again, so loading never fails on it.
    if (ReadComponentSetting(this, SceneDirKey, QString()) != value)
        WriteComponentSetting(this, SceneDirKey, value);
}

QString TSceneFrame::AddPicture(const TJPEGImage& image) {
    if (!ActivekaCheckBox->isChecked()) {
        SetRecordingFailure({}); // switched off is not failing
        return {};
    }
    // Also when the new-scene handler raises: the picture is stored by then.
    const auto showOutcome = qScopeGuard([this] {
        SetRecordingFailure(kaSceneMaker->LastPictureStored() ? QString()
                                                              : kaSceneMaker->StoreError());
    });
    try {
        return kaSceneMaker->AddPicture(image);
    } catch (const EPictureWrite&) {
        // Reported once through the failure state, not once per frame.
        return {};
    }
}

QString TSceneFrame::FailureText(const QString& failure) {
    return FailureMessage().Text() + QStringLiteral(": ") + failure;
}

void TSceneFrame::RegisterMessages() {
    FailureMessage().Handle();
    TSceneDeleter::RegisterMessages();
}

void TSceneFrame::SetRecordingFailure(const QString& failure) {
    if (failure == FRecordingFailure)
        return;
    const bool starts = FRecordingFailure.isEmpty();
    FRecordingFailure = failure;
    RecordingFailurekaLabel->setText(failure.isEmpty() ? QString() : FailureText(failure));
    RecordingFailurekaLabel->setToolTip(RecordingFailurekaLabel->text());
    RecordingFailurekaLabel->setVisible(!failure.isEmpty());
    if (starts)
        ReportRecordingFailure(failure);
    emit RecordingFailureChanged(failure);
}

void TSceneFrame::ReportRecordingFailure(const QString& failure) {
    // From the event loop, not from inside the frame pipeline: the error box
    // waits there while the camera's timer keeps running.
    const QString message = FailureText(failure);
    QMetaObject::invokeMethod(
        this, [message] { HandleApplicationError(ERecordingFailure(message)); },
        Qt::QueuedConnection);
}

namespace {

QString GuardKey(const QString& sceneDir) {
    return QStringLiteral("guard ") + sceneDir;
}

} // namespace

bool TSceneFrame::GuardDiskSpace() {
    const QString sceneDir = SceneDirkaLabel->text();
    if (sceneDir.isEmpty())
        return false;
    const qint64 minimum = qint64(MinDiskSpace()) * BytesPerMegabyte;
    std::optional<qint64> free = ::FreeDiskSpace(sceneDir);
    if (free && *free >= minimum)
        FGuardExhausted = false;
    else if (free && DeleteOldCheckBox->isChecked())
        StartFreeingSpace(sceneDir);
    const bool freeing = FSceneDeleter && FSceneDeleter->Busy(GuardKey(sceneDir));
    if (free && freeing)
        *free += FSceneDeleter->PendingBytes();
    // Space is on its way: the reserve lends half of itself meanwhile, so the
    // picture that set the deletion off is not lost.
    const qint64 needed = freeing && !FGuardExhausted ? minimum / 2 : minimum;
    // A failed reading shows no number and stores: it is not a low reading.
    const bool low = free && *free < needed;
    CurrentFreeLabel->setText(free ? QString::number(*free / BytesPerMegabyte) + QLatin1Char(' ')
                                   : NoFreeSpace);
    SetTextColor(CurrentFreeLabel, low ? Qt::red : Qt::black);
    if (!ActivekaCheckBox->isChecked())
        SetRecordingFailure({}); // switched off is not failing
    else if (low)
        SetRecordingFailure(
            QStringLiteral("less free disk space for %1 than the minimum of %2 MByte")
                .arg(sceneDir)
                .arg(MinDiskSpace()));
    return !low;
}

void TSceneFrame::StartFreeingSpace(const QString& sceneDir) {
    TSceneDeleter& deleter = SceneDeleter();
    const QString key = GuardKey(sceneDir);
    // One pass at a time: it reads the free space after each scene it deletes.
    if (deleter.Busy(key))
        return;
    const QPointer<TSceneFrame> self(this);
    deleter.Run(key, [self, sceneDir, minimum = MinDiskSpace(), memory = FSceneMemory,
                      deleter = &deleter](TDeletionControl& control) {
        const TDiskSpaceVerdict verdict = ::GuardDiskSpace(
            sceneDir, minimum, true,
            [self, deleter](const QString& deletedPath) {
                deleter->Post([self, deletedPath] {
                    if (self != nullptr)
                        self->RemoveSceneNode(deletedPath);
                });
            },
            memory.get(), &control);
        deleter->Post([self, exhausted = verdict.Low] {
            if (self != nullptr)
                self->FGuardExhausted = exhausted;
        });
    });
}

TSceneDeleter& TSceneFrame::SceneDeleter() {
    if (!FSceneDeleter)
        FSceneDeleter = std::make_shared<TSceneDeleter>();
    return *FSceneDeleter;
}

void TSceneFrame::SetSceneDeleter(std::shared_ptr<TSceneDeleter> deleter) {
    FSceneDeleter = std::move(deleter);
}

void TSceneFrame::ShowOffsiteCopy(const QString& line, bool failing) {
    OffsitekaLabel->setText(line);
    OffsitekaLabel->setToolTip(line);
    SetTextColor(OffsitekaLabel, failing ? Qt::red : Qt::black);
    OffsitekaLabel->setVisible(!line.isEmpty());
}

void TSceneFrame::RemoveSceneNode(const QString& path) {
    RemoveDeletedSceneNode(FSceneNode, path);
    if (FSceneNode != nullptr && FSceneNode->treeWidget() != nullptr)
        FSceneNode->treeWidget()->viewport()->update();
}

void TSceneFrame::SweepSmallScenes(const QString& sPath) {
    SceneDeleter().Run({}, [sceneDir = FSceneDir, sPath, minimum = MinPicturesPerScene(),
                            memory = FSceneMemory,
                            own = kaSceneMaker->OwnScenes()](TDeletionControl& control) {
        ::SweepSmallScenes(sceneDir, sPath, minimum, memory.get(), own.get(), &control);
    });
}

void TSceneFrame::DeleteSceneLater(const QString& scenePath) {
    SceneDeleter().Run(scenePath, [sceneDir = FSceneDir, scenePath](TDeletionControl& control) {
        DeleteRecordedScene(sceneDir, scenePath, &control);
    });
}

void TSceneFrame::LimitScenesPerDay(QTreeWidgetItem* dayNode) {
    ::LimitScenesPerDay(dayNode, FSceneDir, MaxScenesPerDay(),
                        [this](const QString& path) { DeleteSceneLater(path); });
}

void TSceneFrame::CheckPreviousScene(QTreeWidgetItem* newSceneNode) {
    ::CheckPreviousScene(newSceneNode, FSceneDir, MinPicturesPerScene(),
                         [this](const QString& path) { DeleteSceneLater(path); });
}

int TSceneFrame::MaxScenesPerDay() const {
    return MaxSceneskaTrackbarFrame->TrackBar->Position();
}

int TSceneFrame::MinPicturesPerScene() const {
    return MinPicsPerScenekaTrackbarFrame->TrackBar->Position();
}

int TSceneFrame::MinDiskSpace() const {
    return MinDiskSpaceFrame->TrackBar->Position();
}

void TSceneFrame::MaxPickaTrackbarFrameTrackBarChange(QObject* sender) {
    MaxPickaTrackbarFrame->TrackBarChange(sender);
    kaSceneMaker->SetMaxPicturePerScene(MaxPickaTrackbarFrame->TrackBar->Position());
}

void TSceneFrame::NewSceneTimeFrameTrackBarChange(QObject* sender) {
    NewSceneTimeFrame->TrackBarChange(sender);
    kaSceneMaker->SetSecondsBeforeNewScene(NewSceneTimeFrame->TrackBar->Position());
}

void TSceneFrame::SceneDirSpeedButtonClick() {
    // Timers run on while a dialog is open; should this page go meanwhile,
    // the answers are for nobody.
    const QPointer<TSceneFrame> self(this);
    const QString chosen =
        Dialogs().SelectDirectory(QStringLiteral("Select Scene Directory"), FSceneDir);
    if (self == nullptr || chosen.isEmpty())
        return;
    if (!QFileInfo(chosen).isDir()) {
        const QString question =
            QStringLiteral("The directory %1 does not exist. Create it?").arg(chosen);
        const TDialogAnswer answer = Dialogs().Confirm(question, TConfirmButtons::YesNo);
        if (self == nullptr || answer != TDialogAnswer::Yes)
            return;
        QDir().mkpath(chosen); // a failure shows as an unusable directory
    }
    SetSceneDir(chosen);
}

void TSceneFrame::kaSceneMakerNewScene(QObject* /*sender*/, const QString& sPath) {
    if (OnNewScene)
        OnNewScene(this, sPath);
}
