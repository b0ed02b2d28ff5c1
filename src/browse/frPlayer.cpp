#include "frPlayer.h"

#include "EkaError.h"
#include "FileStamp.h"
#include "PaintBox.h"
#include "ThumbnailCache.h"
#include "UnreadablePictures.h"
#include "frImage.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaGeneral.h"
#include "kaLanguage.h"
#include "kaSceneFiles.h"
#include "kaTrackBar.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <algorithm>

namespace {

constexpr int FrameWidth = 280;
constexpr int FrameHeight = 258;
constexpr int SpeedTrackBarWidth = 100;
constexpr int DesignedTimerInterval = 400; // ms
const QColor Screen(24, 24, 24);

// The scene's files in listing order, without the scene maker's temporaries
// and other hidden names.
QStringList SceneFiles(const QString& sceneDir) {
    QStringList names = ListSceneFiles(sceneDir);
    names.removeIf([](const QString& name) { return IsHiddenName(name); });
    return names;
}

// Play mirrored: the standard set has no backward play symbol.
QIcon MirroredIcon(const QIcon& icon) {
    QIcon mirrored;
    for (const int size : {16, 24, 32}) {
        const QImage image = icon.pixmap(size, size).toImage();
        mirrored.addPixmap(QPixmap::fromImage(image.mirrored(true, false)));
    }
    return mirrored;
}

} // namespace

TkaPlayerFrame::TkaPlayerFrame(QObject* owner, QWidget* parent)
    : TTreeNodeFrame(owner, parent), FUnreadable(std::make_shared<TUnreadablePictures>()) {
    setObjectName(QStringLiteral("kaPlayerFrame"));
    resize(FrameWidth, FrameHeight);
    setMinimumSize(MinWidth, MinHeight);
    CreateActions();
    CreateComponents();
    Own(this, new TkaLanguage(this), "kaLanguage1");
}

TkaPlayerFrame::~TkaPlayerFrame() {
    PaintBox->OnPaint = nullptr;
}

void TkaPlayerFrame::CreateActions() {
    QStyle* look = QApplication::style();
    ActionList = Own(this, new TkaActionList(this), "ActionList");
    const auto create = [this](const char* name, const char* caption, const QIcon& icon,
                               bool checkable) {
        auto* action = Own(this, new TkaAction(ActionList), name);
        action->setText(QString::fromUtf8(caption));
        CaptionAccess::SetHint(action, QString::fromUtf8(caption));
        action->setIcon(icon);
        action->setCheckable(checkable);
        return action;
    };
    PlayForwardAction =
        create("PlayForwardAction", "Play", look->standardIcon(QStyle::SP_MediaPlay), true);
    StopAction = create("StopAction", "Stop", look->standardIcon(QStyle::SP_MediaStop), false);
    RepeatAction =
        create("RepeatAction", "Repeat", look->standardIcon(QStyle::SP_BrowserReload), true);
    StretchAction =
        create("StretchAction", "Stretch", look->standardIcon(QStyle::SP_TitleBarMaxButton), true);
    PlayBackwardAction = create("PlayBackwardAction", "Play Back",
                                MirroredIcon(look->standardIcon(QStyle::SP_MediaPlay)), true);
    connect(PlayForwardAction, &QAction::triggered, this,
            &TkaPlayerFrame::PlayForwardActionExecute);
    connect(PlayBackwardAction, &QAction::triggered, this,
            &TkaPlayerFrame::PlayBackwardActionExecute);
    connect(StopAction, &QAction::triggered, this, &TkaPlayerFrame::StopActionExecute);
    connect(StretchAction, &QAction::triggered, this, &TkaPlayerFrame::StretchActionExecute);
}

void TkaPlayerFrame::CreateComponents() {
    PaintPanel = Own(this, new QFrame(this), "PaintPanel");
    PaintPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    PaintBox = Own(this, new TPaintBox(PaintPanel), "PaintBox");
    PaintBox->OnPaint = [this](QPainter& canvas) { PaintBoxPaint(canvas); };
    auto* inner = new QVBoxLayout(PaintPanel);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->addWidget(PaintBox);

    TrackBar = Own(this, new QSlider(Qt::Horizontal, this), "TrackBar");
    TrackBar->setTickPosition(QSlider::NoTicks);
    TrackBar->setToolTip(QStringLiteral("Position"));
    TrackBar->setRange(0, 0);
    connect(TrackBar, &QSlider::valueChanged, this, &TkaPlayerFrame::TrackBarChange);

    CreateToolBar();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(PaintPanel, 1);
    column->addWidget(ToolBar);
    column->addWidget(TrackBar);

    PlayTimer = Own(this, new QTimer(this), "PlayTimer");
    PlayTimer->setInterval(DesignedTimerInterval);
    connect(PlayTimer, &QTimer::timeout, this, &TkaPlayerFrame::PlayTimerTimer);
}

void TkaPlayerFrame::CreateToolBar() {
    ToolBar = Own(this, new QToolBar(this), "ToolBar");
    ToolBar->setIconSize(QSize(16, 16));
    ExcludeFromLanguage(ToolBar);

    SpeedTrackBar = Own(this, new TkaTrackBar(ToolBar), "SpeedTrackBar");
    SpeedTrackBar->setFixedWidth(SpeedTrackBarWidth);
    SpeedTrackBar->setToolTip(QStringLiteral("Pause between the Images"));
    SpeedTrackBar->SetMin(1);
    SpeedTrackBar->SetMax(5000);
    SpeedTrackBar->SetPosition(200);
    SpeedTrackBar->setPageStep(100);
    SpeedTrackBar->SetFrequency(100);
    SpeedTrackBar->setTickPosition(QSlider::NoTicks);
    SpeedTrackBar->SetRemanent(true);
    connect(SpeedTrackBar, &TkaTrackBar::OnChange, this, &TkaPlayerFrame::SpeedTrackBarChange);

    SpeedLabel = Own(this, new QLabel(QStringLiteral("[ms]"), ToolBar), "SpeedLabel");
    SpeedLabel->setContentsMargins(4, 0, 4, 0);
    ExcludeFromLanguage(SpeedLabel);
    CountLabel = Own(this, new QLabel(QStringLiteral("[0/0]"), ToolBar), "CountLabel");
    CountLabel->setContentsMargins(4, 0, 4, 0);
    ExcludeFromLanguage(CountLabel);
    TimeLabel = Own(this, new QLabel(ToolBar), "TimeLabel");
    TimeLabel->setContentsMargins(4, 0, 4, 0);
    ExcludeFromLanguage(TimeLabel);

    ToolBar->addSeparator();
    ToolBar->addAction(PlayBackwardAction);
    ToolBar->addAction(PlayForwardAction);
    ToolBar->addAction(StopAction);
    ToolBar->addSeparator();
    ToolBar->addAction(RepeatAction);
    ToolBar->addSeparator();
    ToolBar->addAction(StretchAction);
    ToolBar->addSeparator();
    ToolBar->addWidget(SpeedTrackBar);
    ToolBar->addWidget(SpeedLabel);
    ToolBar->addSeparator();
    ToolBar->addWidget(CountLabel);
    ToolBar->addWidget(TimeLabel);
}

void TkaPlayerFrame::SetUnreadablePictures(std::shared_ptr<TUnreadablePictures> registry) {
    if (registry)
        FUnreadable = std::move(registry);
}

// ---- Moving through the scene ----------------------------------------------------------

void TkaPlayerFrame::SetPath(const QString& value) {
    if (value == FPath)
        return;
    FPath = value;
    ReadFiles();
    SetTrackBar(int(FFiles.size()) - 1, TrackBar->value());
    GoTo(PlayBackwardAction->isChecked() ? int(FFiles.size()) - 1 : 0);
    if (FFiles.isEmpty())
        ShowFile(QString());
    else
        ShowFile(IncludeBackslash(FPath) + FFiles.at(FIndex));
}

void TkaPlayerFrame::ReadFiles() {
    FFiles = SceneFiles(FPath);
}

void TkaPlayerFrame::SetTrackBar(int maximum, int position) {
    const QSignalBlocker blocker(TrackBar);
    TrackBar->setMaximum(std::max(0, maximum));
    TrackBar->setValue(position);
}

void TkaPlayerFrame::GoTo(int newIndex) {
    const int count = int(FFiles.size());
    if (newIndex > 0 && newIndex < count) {
        FIndex = newIndex;
    } else {
        // An end (0 is one too): a scene still being recorded may have grown.
        ReadFiles();
        const int files = int(FFiles.size());
        if (!RepeatAction->isChecked())
            StopActionExecute();
        FIndex = PlayBackwardAction->isChecked() ? std::max(0, files - 1) : 0;
        SetTrackBar(files - 1, FIndex);
    }
    if (!FFiles.isEmpty())
        ShowFile(IncludeBackslash(FPath) + FFiles.at(FIndex));
    SetTrackBar(int(FFiles.size()) - 1, FIndex);
    CountLabel->setText(QStringLiteral("[%1/%2]").arg(FIndex + 1).arg(FFiles.size()));
}

void TkaPlayerFrame::ShowFile(const QString& fileName) {
    if (fileName == FCurrentFile)
        return;
    FCurrentFile = fileName;
    // A missing file leaves the previous picture on show.
    if (!TFileStamp::Of(fileName).Exists)
        return;
    TimeLabel->setText(TImageFrame::TimeOfDayText(fileName));
    // A foreign file is no picture: not decoded, and no error to log.
    FCurrentUnreadable = !fileName.endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive) ||
                         FUnreadable->Known(fileName);
    if (!FCurrentUnreadable) {
        try {
            FPicture = ReadPicture(fileName);
        } catch (const EkaError& error) {
            FUnreadable->Report(fileName, error);
            FCurrentUnreadable = true;
        }
    }
    if (FCurrentUnreadable)
        FPicture = QImage();
    PaintBox->update();
}

bool TkaPlayerFrame::Playing() const {
    return PlayForwardAction->isChecked() || PlayBackwardAction->isChecked();
}

void TkaPlayerFrame::PlayTimerTimer() {
    if (!isVisible() || FPath.isEmpty())
        return;
    // A picture that cannot be read is passed over within the same tick.
    for (qsizetype attempt = 0; Playing(); ++attempt) {
        GoTo(PlayBackwardAction->isChecked() ? FIndex - 1 : FIndex + 1);
        if (!FCurrentUnreadable || attempt >= FFiles.size())
            return;
    }
}

void TkaPlayerFrame::TrackBarChange() {
    if (TrackBar->value() != FIndex)
        GoTo(TrackBar->value());
}

void TkaPlayerFrame::SpeedTrackBarChange() {
    SpeedLabel->setText(QString::number(SpeedTrackBar->Position()) + QStringLiteral(" [ms]"));
    PlayTimer->stop();
    PlayTimer->setInterval(SpeedTrackBar->Position());
    PlayTimer->start();
}

// ---- Actions ---------------------------------------------------------------------------

void TkaPlayerFrame::PlayForwardActionExecute() {
    StopActionExecute();
    PlayForwardAction->setChecked(true);
    PlayBackwardAction->setChecked(false);
}

void TkaPlayerFrame::PlayBackwardActionExecute() {
    StopActionExecute();
    PlayBackwardAction->setChecked(true);
    PlayForwardAction->setChecked(false);
}

void TkaPlayerFrame::StopActionExecute() {
    PlayForwardAction->setChecked(false);
    PlayBackwardAction->setChecked(false);
}

void TkaPlayerFrame::StretchActionExecute() {
    // The action has toggled its check already.
    PaintBox->update();
}

// ---- Painting --------------------------------------------------------------------------

void TkaPlayerFrame::PaintBoxPaint(QPainter& canvas) {
    canvas.fillRect(PaintBox->rect(), Screen);
    if (FCurrentUnreadable) {
        canvas.setPen(Qt::white);
        canvas.drawText(PaintBox->rect(), Qt::AlignCenter | Qt::TextWordWrap,
                        QFileInfo(FCurrentFile).fileName() + QLatin1Char('\n') +
                            TUnreadablePictures::Message());
        return;
    }
    if (FPicture.isNull())
        return;
    if (StretchAction->isChecked()) {
        canvas.drawImage(PaintBox->rect(), FPicture);
        return;
    }
    // Centred; a picture larger than the box shows its middle part.
    const QPoint offset((PaintBox->width() - FPicture.width()) / 2,
                        (PaintBox->height() - FPicture.height()) / 2);
    canvas.drawImage(offset, FPicture);
}

void TkaPlayerFrame::resizeEvent(QResizeEvent* event) {
    TTreeNodeFrame::resizeEvent(event);
    FormResize();
}

void TkaPlayerFrame::FormResize() {
    setMinimumSize(MinWidth, MinHeight);
}
