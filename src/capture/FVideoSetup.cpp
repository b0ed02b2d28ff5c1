#include "FVideoSetup.h"

#include "frVideo.h"
#include "kaCheckBox.h"
#include "kaHotkey.h"
#include "kaLabel.h"
#include "kaLanguage.h"
#include "kaPanel.h"
#include "kaPictureAnalyser.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QBoxLayout>
#include <QFont>
#include <QFontMetrics>
#include <QHideEvent>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int ClientWidth = 165;
constexpr int ClientHeight = 298;
constexpr int TopSpace = 13;
constexpr int TrackbarFrameHeight = 44;
// Beside the title text: the window icon and the three buttons most window
// managers give a tool window (seen cut at 90 under Openbox).
constexpr int TitleBarAllowance = 120;
constexpr int CaptionGap = 8;

} // namespace

TVideoSetupForm::TVideoSetupForm(TVideoFrame* page)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint), FPage(page) {
    SetOwner(this, nullptr, QStringLiteral("VideoSetupForm"));
    setWindowTitle(QStringLiteral("Motion Detector"));
    resize(ClientWidth, ClientHeight);

    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    kaPanel1 = Own(this, new TkaPanel(this), "kaPanel1");
    kaPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    fill->addWidget(kaPanel1);

    auto* stack = new QVBoxLayout(kaPanel1);
    const int bevel = kaPanel1->frameWidth();
    stack->setContentsMargins(bevel, bevel, bevel, bevel);
    stack->setSpacing(0);
    kaPanel2 = Own(this, new TkaPanel(kaPanel1), "kaPanel2");
    kaPanel2->setFrameShape(QFrame::NoFrame);
    kaPanel2->setFixedHeight(TopSpace);
    stack->addWidget(kaPanel2);

    ThresholdTrackbarFrame = NewTrackbarFrame(
        {"ThresholdTrackbarFrame", "Schwellwert", "Schwellwert", 0, 1000, 40, 100});
    XTrackbarFrame = NewTrackbarFrame({"XTrackbarFrame", "Segment X", "Segment X", 2, 100, 50, 10});
    YTrackbarFrame = NewTrackbarFrame({"YTrackbarFrame", "Segment Y", "Segment Y", 2, 100, 50, 10});
    MotionFrame =
        NewTrackbarFrame({"MotionFrame", "Anzahl Segmente", "Number of Segments", 1, 100, 50, 10});
    mSecBetweenFrame =
        NewTrackbarFrame({"mSecBetweenFrame", "Framepause", "Framepause", 1, 10000, 100, 1000});
    mSecBetweenFrame->TrackBar->setPageStep(100);
    QualityFrame = NewTrackbarFrame({"QualityFrame", "Quality", "Quality", 1, 100, 50, 10});
    LightChangekaCheckBox =
        Own(this, new TkaCheckBox(QStringLiteral("Ignore light changes"), kaPanel1),
            "LightChangekaCheckBox");
    LightChangekaCheckBox->setToolTip(
        QStringLiteral("A cloud, a lamp or infrared that changes the whole picture is not motion"));
    LightChangekaCheckBox->SetRemanent(true);
    stack->addWidget(LightChangekaCheckBox);
    stack->addStretch();

    // Handlers are connected after the designed positions are set, so the
    // designed values reach nobody: the restore at the first showing of the
    // main window passes every stored position on.
    ThresholdTrackbarFrame->OnTrackBarChange = [this](QObject* sender) {
        ThresholdTrackbarFrameTrackBarChange(sender);
    };
    XTrackbarFrame->OnTrackBarChange = [this](QObject* sender) {
        XTrackbarFrameTrackBarChange(sender);
    };
    YTrackbarFrame->OnTrackBarChange = [this](QObject* sender) {
        YTrackbarFrameTrackBarChange(sender);
    };
    MotionFrame->OnTrackBarChange = [this](QObject* sender) { MotionFrameTrackBarChange(sender); };
    mSecBetweenFrame->OnTrackBarChange = [this](QObject* sender) {
        mSecBetweenFrameTrackBarChange(sender);
    };
    QualityFrame->OnTrackBarChange = [this](QObject* sender) {
        CompressionFrameTrackBarChange(sender);
    };
    connect(LightChangekaCheckBox, &TkaCheckBox::OnClick, this,
            &TVideoSetupForm::LightChangekaCheckBoxClick);
    // The accelerators come first here: the designed captions get theirs at
    // loading, the next language activation assigns them anew.
    Own(this, new TkaHotkey(this), "kaHotkey1");
    auto* language = Own(this, new TkaLanguage(this), "kaLanguage");
    language->AfterImport = [this](QObject*) { FitToContents(); };
    FitToContents();
}

void TVideoSetupForm::FitToContents() {
    for (auto* frame : findChildren<TkaTrackbarFrame*>()) {
        // The value is empty until the first change: its room is kept free.
        const TkaTrackBar* bar = frame->TrackBar;
        const QString widest =
            QString::number(std::max(std::abs(bar->Max()), std::abs(bar->Min()))) +
            QLatin1Char('%');
        frame->kaLabel2->setMinimumWidth(frame->kaLabel2->fontMetrics().horizontalAdvance(widest) +
                                         CaptionGap);
    }
    const QSize contents = layout()->totalSizeHint();
    // Title bars mostly draw their text in bold.
    QFont titleFont = font();
    titleFont.setBold(true);
    const int title = QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + TitleBarAllowance;
    resize(std::max({ClientWidth, contents.width(), title}),
           std::max(ClientHeight, contents.height()));
}

TkaTrackbarFrame* TVideoSetupForm::NewTrackbarFrame(const TTrackbarDesign& design) {
    auto* frame = Own(this, new TkaTrackbarFrame(kaPanel1), design.Name);
    frame->setFixedHeight(TrackbarFrameHeight);
    frame->kaLabel1->setText(QString::fromUtf8(design.Caption));
    frame->setToolTip(QString::fromUtf8(design.Hint));
    TkaTrackBar* bar = frame->TrackBar;
    bar->SetMin(design.Min);
    bar->SetMax(design.Max);
    bar->SetPosition(design.Position);
    bar->SetFrequency(design.Frequency);
    bar->setToolTip(QString::fromUtf8(design.Hint));
    kaPanel1->layout()->addWidget(frame);
    return frame;
}

int TVideoSetupForm::MotionSegments() const {
    return MotionFrame->TrackBar->Position();
}

int TVideoSetupForm::Quality() const {
    return QualityFrame->TrackBar->Position();
}

void TVideoSetupForm::ThresholdTrackbarFrameTrackBarChange(QObject* /*sender*/) {
    const int position = ThresholdTrackbarFrame->TrackBar->Position();
    // Tenths of a percent, shown without trailing zeros: "4%", "4.5%".
    ThresholdTrackbarFrame->kaLabel2->setText(
        QLocale().toString(position / 10.0, 'g', QLocale::FloatingPointShortest) +
        QLatin1Char('%'));
    FPage->kaPictureAnalyser->SetThresholdMaxSegment(position / 1000.0);
}

void TVideoSetupForm::XTrackbarFrameTrackBarChange(QObject* sender) {
    XTrackbarFrame->TrackBarChange(sender);
    FPage->kaPictureAnalyser->SetxSegments(XTrackbarFrame->TrackBar->Position());
}

void TVideoSetupForm::YTrackbarFrameTrackBarChange(QObject* sender) {
    YTrackbarFrame->TrackBarChange(sender);
    FPage->kaPictureAnalyser->SetySegments(YTrackbarFrame->TrackBar->Position());
}

void TVideoSetupForm::MotionFrameTrackBarChange(QObject* sender) {
    MotionFrame->TrackBarChange(sender);
}

void TVideoSetupForm::mSecBetweenFrameTrackBarChange(QObject* sender) {
    mSecBetweenFrame->TrackBarChange(sender);
    FPage->CaptureTimer->setInterval(mSecBetweenFrame->TrackBar->Position());
}

void TVideoSetupForm::CompressionFrameTrackBarChange(QObject* sender) {
    QualityFrame->TrackBarChange(sender);
}

void TVideoSetupForm::LightChangekaCheckBoxClick() {
    FPage->kaPictureAnalyser->SetIgnoreLightChanges(LightChangekaCheckBox->isChecked());
}

// ---- Placement ------------------------------------------------------------------

QPoint TVideoSetupForm::FrameTopLeft(const QRect& mainFrame, const QRect& mainClient,
                                     const QSize& frameSize, const QRect& available) {
    QPoint topLeft(mainFrame.right() + 1, mainFrame.top());
    if (topLeft.x() + frameSize.width() - 1 > available.right()) {
        topLeft.setX(available.right() - frameSize.width() + 1);
        // Over the main window now: below its title bar and buttons.
        topLeft.setY(mainClient.top());
    }
    // Left and top win when the frame is larger than the area: the title
    // bar is what must stay reachable.
    topLeft.setX(std::max(std::min(topLeft.x(), available.right() - frameSize.width() + 1),
                          available.left()));
    topLeft.setY(std::max(std::min(topLeft.y(), available.bottom() - frameSize.height() + 1),
                          available.top()));
    return topLeft;
}

QMargins TVideoSetupForm::FrameMargins() const {
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

void TVideoSetupForm::PlaceBeside(const QWidget& main) {
    const QScreen* screen = main.screen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    QMargins margins = FrameMargins();
    if (margins.isNull()) {
        // Not framed yet: the main window's frame is the best guess.
        const QRect frame = main.frameGeometry();
        const QRect client = main.geometry();
        margins = {client.left() - frame.left(), client.top() - frame.top(),
                   frame.right() - client.right(), frame.bottom() - client.bottom()};
    }
    const QSize frameSize = size().grownBy(margins);
    MoveFrameTo(FrameTopLeft(main.frameGeometry(), main.geometry(), frameSize, available), margins);
    PlacementArea = available;
}

void TVideoSetupForm::MoveFrameTo(const QPoint& topLeft, const QMargins& margins) {
    // The client geometry is the one position every platform takes as given.
    setGeometry(QRect(topLeft + QPoint(margins.left(), margins.top()), size()));
}

void TVideoSetupForm::KeepFrameOnScreen() {
    if (!PlacementArea || !isVisible())
        return;
    const QMargins margins = FrameMargins();
    if (margins.isNull())
        return; // not framed (yet): the placement stands as computed
    const QRect area = *PlacementArea;
    PlacementArea.reset();
    const QRect frame = frameGeometry();
    QPoint topLeft = frame.topLeft();
    topLeft.setX(std::max(std::min(topLeft.x(), area.right() - frame.width() + 1), area.left()));
    topLeft.setY(std::max(std::min(topLeft.y(), area.bottom() - frame.height() + 1), area.top()));
    if (topLeft != frame.topLeft())
        MoveFrameTo(topLeft, margins);
}

void TVideoSetupForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    KeepFrameOnScreen();
}

void TVideoSetupForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    KeepFrameOnScreen();
}

void TVideoSetupForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        PlacementArea.reset();
}
