#include "frVideo.h"
#include "kaHotkey.h"
#include "kaLanguage.h"

#include "ApplicationErrors.h"
#include "FVideoSetup.h"
#include "IdUDPClient.h"
#include "PaintBox.h"
#include "THourGlass.h"
#include "TkaHashList.h"
#include "frScene.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaPageControl.h"
#include "kaPanel.h"
#include "kaPictureAnalyser.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QApplication>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// ---- Messages ------------------------------------------------------------------

struct TMessage {
    const char* Key;
    const char* DefaultText;
    int Handle = -1;
};

TMessage MaskModifiedMessage{"FRVIDEO_MSG_MASKMODIFIED", "is modified! Save?"};
TMessage LastMotionMessage{"FRVIDEO_MSG_LASTMOTION", "Last Motion"};
TMessage PictureTimeMessage{"FRVIDEO_MSG_PICTURETIME", "Last Picture"};

// The registry is emptied when the library shuts down, and a test may start it
// again in the same process: a handle is trusted only while it still names
// its key, otherwise the message is registered anew.
int MessageHandle(TMessage& message) {
    const TkaHashList& registry = MessageRegistry();
    const QString key = QString::fromLatin1(message.Key);
    if (message.Handle < 0 || message.Handle >= registry.Count() ||
        registry.Key(message.Handle) != key)
        message.Handle = RegisterMessage(key, QString::fromLatin1(message.DefaultText));
    return message.Handle;
}

// Tool tips of the broadcast edits and the status panels (panel 5 stays empty).
TMessage SourceHintMessage{"FRVIDEO_MSG_HINTSOURCE",
                           "Camera name sent with every broadcast picture (letters, digits, _)"};
TMessage PortHintMessage{"FRVIDEO_MSG_HINTPORT", "UDP port the pictures are broadcast to"};
std::array<TMessage, TVideoFrame::StatusPanelCount> PanelHintMessages{{
    {"FRVIDEO_MSG_HINTLAMP", "Lit while the latest picture shows motion"},
    {"FRVIDEO_MSG_HINTSEGMENTS", "Segments that changed more than the threshold"},
    {"FRVIDEO_MSG_HINTMAXCHANGE", "Largest change of a segment"},
    {"FRVIDEO_MSG_HINTBRIGHTNESS", "Brightness of the picture"},
    {"FRVIDEO_MSG_HINTJPEGSIZE", "Size of the latest motion picture"},
    {nullptr, nullptr},
    {"FRVIDEO_MSG_HINTCOUNTMOVE", "Motion pictures since the program started"},
}};

QString HintText(TMessage& message) {
    return message.Key == nullptr ? QString() : MessageText(MessageHandle(message));
}

void RegisterMessages() {
    for (TMessage* message : {&MaskModifiedMessage, &LastMotionMessage, &PictureTimeMessage})
        MessageHandle(*message);
}

// ---- Helpers ---------------------------------------------------------------------

int NextPageNumber() {
    static int pages = 0;
    return ++pages;
}

// Rounds halves to even, as the status panels and the segment grid do.
int RoundEven(double value) {
    return int(std::nearbyint(value));
}

QString TimeText(double dateTime) {
    const QDateTime time = DateTimeToQDateTime(dateTime);
    const QLocale locale;
    // Qt's long time format carries the time zone; the labels show local time only.
    const QString timeFormat =
        locale.timeFormat(QLocale::LongFormat).remove(QLatin1Char('t')).trimmed();
    return locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(time.time(), timeFormat);
}

// A time label keeps its designed width but grows to show its whole text.
void FitLabel(QLabel* label, int designWidth) {
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 4;
    label->resize(std::max(designWidth, needed), label->height());
}

// The port typed into the port edit; 0 for anything that is no port number.
quint16 PortNumber(const QString& text) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    return ok && port <= 65535 ? quint16(port) : 0;
}

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsAsciiLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

// Source names and port numbers hold only these, however they are entered
// (typing, pasting, dropping): the validator refuses any other text.
QValidator* SourceValidator(QObject* parent) {
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9_]*")),
                                           parent);
}

QValidator* PortValidator(QObject* parent) {
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), parent);
}

// The character a key press types, or none for keys that type nothing and for
// control combinations (copy, paste, select all), which the filters let pass.
std::optional<QChar> TypedCharacter(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backspace)
        return QChar(u'\b');
    const QString text = key.text();
    if (text.isEmpty() || text.at(0).category() == QChar::Other_Control)
        return std::nullopt;
    return text.at(0);
}

// Runs an event handler and hands what it raises to the application's error
// handling, so nothing escapes into Qt's event dispatch.
template <class Handler> void Guarded(Handler handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        HandleApplicationError(error);
    }
}

} // namespace

// ---- Construction ----------------------------------------------------------------

TVideoFrame::TVideoFrame(QObject* owner, QWidget* parent) : TTreeNodeFrame(owner, parent) {
    // Named before any component exists: their settings are keyed below the
    // page's name, and remanent actions restore while the page loads.
    setObjectName(QStringLiteral("VideoFrame%1").arg(NextPageNumber()));
    RegisterMessages();
    CreateComponents();
    FLineWidth = 10;
    kaPageControl->setCurrentWidget(VideoTabSheet);
    LastMotionkaLabel->clear();
    LastUpdatekaLabel->clear();
    FSetupForm.reset(CreateLoaded<TVideoSetupForm>(this));
    FMaskDirectory = ProgramSubDir(QStringLiteral("Mask"));
    for (int i = 1; i < StatusPanelCount; ++i)
        SetPanelText(i, QString());
    // Run-time texts stay out of imports as well as exports.
    kaLanguage1BeforeExport();
    auto* language = Own(this, new TkaLanguage(this), "kaLanguage1");
    language->BeforeExport = [this](QObject*) { kaLanguage1BeforeExport(); };
    Own(this, new TkaHotkey(this), "kaHotkey1");
}

TVideoFrame::~TVideoFrame() {
    CaptureTimer->stop();
    FSetupForm.reset();
}

void TVideoFrame::CreateComponents() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    kaPanel = Own(this, new TkaPanel(this), "kaPanel");
    kaPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    kaPanel->setFixedHeight(62);
    column->addWidget(kaPanel);

    CreateActions();
    CreateToolBar();

    DescriptionkaLabel = Own(this, new TkaLabel(kaPanel), "DescriptionkaLabel");
    DescriptionkaLabel->move(10, 31);
    LastUpdatekaLabel = Own(this, new TkaLabel(kaPanel), "LastUpdatekaLabel");
    LastUpdatekaLabel->setGeometry(10, 47, LastUpdateLabelWidth, 14);
    LastMotionkaLabel = Own(this, new TkaLabel(kaPanel), "LastMotionkaLabel");
    LastMotionkaLabel->setGeometry(LastMotionLabelLeft, 47, LastMotionLabelWidth, 14);

    VideoCap = Own(this, new TVideoCap(this), "VideoCap");
    VideoCap->SetSize(25, 25);
    VideoCap->SetMicroSecPerFrame(200000);
    VideoCap->SetSingleImageFile(QStringLiteral("capture.bmp"));
    VideoCap->SetCapTimeLimit(1);
    VideoCap->SetCapIndexSize(1800);
    VideoCap->SetCapToFile(false);
    const TVideoStream frameHandler = [this](QObject* sender, PVIDEOHDR header) {
        VideoCapFrameCallback(sender, header);
    };
    VideoCap->OnVideoStream = frameHandler;
    VideoCap->OnFrameCallback = frameHandler;

    CreatePages();
    column->addWidget(kaPageControl, 1);
    CreateStatusBar();
    column->addWidget(StatusBar);

    CaptureTimer = Own(this, new QTimer(this), "CaptureTimer");
    CaptureTimer->setInterval(100);
    connect(CaptureTimer, &QTimer::timeout, this, &TVideoFrame::CaptureTimerTimer);

    kaPictureAnalyser = Own(this, new TkaPictureAnalyser(this), "kaPictureAnalyser");
    kaPictureAnalyser->SetThresholdTotal(100);
    kaPictureAnalyser->SetThresholdMaxSegment(100);
    kaPictureAnalyser->OnThresholdMaxSegment = [this](TkaPictureAnalyser* sender, double value,
                                                      bool& isMotion) {
        kaPictureAnalyserThresholdMaxSegment(sender, value, isMotion);
    };

    IdUDPClient = Own(this, new TIdUDPClient(this), "IdUDPClient");
    // The white mask exists before the pictures and the page's settings.
    FPipeline = std::make_unique<TkaFramePipeline>(*kaPictureAnalyser);
    FPipeline->SetSender(IdUDPClient);
    ConnectPipeline();
    ConnectActions();
}

TkaAction* TVideoFrame::NewAction(const QString& name, const QString& caption,
                                  const QString& hint) {
    auto* action = Own(this, new TkaAction(ActionList1), name);
    action->setText(caption);
    action->setToolTip(hint);
    return action;
}

void TVideoFrame::CreateActions() {
    ActionList1 = Own(this, new TkaActionList(this), "ActionList1");
    QStyle* look = style();
    PlayAction = NewAction("PlayAction", "Play", "Play");
    PlayAction->setIcon(look->standardIcon(QStyle::SP_MediaPlay));
    StopAction = NewAction("StopAction", "Stop", "Stop");
    StopAction->setIcon(look->standardIcon(QStyle::SP_MediaStop));
    StretchAction = NewAction("StretchAction", "Stretch", "Stretch");
    StretchAction->setIcon(look->standardIcon(QStyle::SP_TitleBarMaxButton));
    StretchAction->setCheckable(true);
    DlgFormatAction = NewAction("DlgFormatAction", "Format", "Format");
    DlgFormatAction->setIcon(look->standardIcon(QStyle::SP_FileDialogDetailedView));
    DlgSourceAction = NewAction("DlgSourceAction", "Source", "Source");
    DlgSourceAction->setIcon(look->standardIcon(QStyle::SP_ComputerIcon));
    DlgDisplayAction = NewAction("DlgDisplayAction", "Display", "Display");
    DlgDisplayAction->setIcon(look->standardIcon(QStyle::SP_DesktopIcon));
    VideoSetupAction =
        NewAction("VideoSetupAction", "Setup Motion Detection", "Setup Motion Detection");
    VideoSetupAction->setIcon(look->standardIcon(QStyle::SP_FileDialogInfoView));
    MaskPictureAction = NewAction("MaskPictureAction", "Video overlay", "Video overlay");
    MaskPictureAction->setIcon(look->standardIcon(QStyle::SP_FileDialogContentsView));
    MaskPictureAction->setCheckable(true);
    MaskPictureAction->setChecked(true);
    PublishAction = NewAction("PublishAction", QString(), QString());
    PublishAction->setVisible(false);
    BroadcastAction = NewAction("BroadcastAction", "BroadcastAction",
                                "Broadcast compressed Video to local network");
    BroadcastAction->setIcon(look->standardIcon(QStyle::SP_DriveNetIcon));
    BroadcastAction->setCheckable(true);
    BroadcastAction->SetRemanent(true);
}

void TVideoFrame::CreateToolBar() {
    auto* rows = new QVBoxLayout(kaPanel);
    rows->setContentsMargins(kaPanel->frameWidth(), kaPanel->frameWidth(), kaPanel->frameWidth(),
                             0);
    ToolBar1 = Own(this, new QToolBar(kaPanel), "ToolBar1");
    ToolBar1->setFixedHeight(29);
    ToolBar1->setIconSize(QSize(16, 16));
    rows->addWidget(ToolBar1);
    rows->addStretch();

    SourcekaEdit = Own(this, new TkaEdit(ToolBar1), "SourcekaEdit");
    SourcekaEdit->setFixedWidth(98);
    SourcekaEdit->SetRemanent(true);
    SourcekaEdit->setText(QStringLiteral("MyCam"));
    SourcekaEdit->setValidator(SourceValidator(SourcekaEdit));
    SourcekaEdit->setToolTip(HintText(SourceHintMessage));
    SourcekaEdit->installEventFilter(this);
    UDPPortkaEdit = Own(this, new TkaEdit(ToolBar1), "UDPPortkaEdit");
    UDPPortkaEdit->setFixedWidth(40);
    UDPPortkaEdit->SetRemanent(true);
    UDPPortkaEdit->setText(QStringLiteral("4032"));
    UDPPortkaEdit->setValidator(PortValidator(UDPPortkaEdit));
    UDPPortkaEdit->setToolTip(HintText(PortHintMessage));
    UDPPortkaEdit->installEventFilter(this);

    ToolBar1->addSeparator();
    ToolBar1->addAction(PublishAction);
    ToolBar1->addWidget(SourcekaEdit);
    ToolBar1->addSeparator();
    ToolBar1->addAction(PlayAction);
    ToolBar1->addAction(StopAction);
    ToolBar1->addSeparator();
    ToolBar1->addAction(StretchAction);
    ToolBar1->addSeparator();
    ToolBar1->addAction(DlgSourceAction);
    ToolBar1->addAction(DlgFormatAction);
    ToolBar1->addAction(DlgDisplayAction);
    ToolBar1->addAction(VideoSetupAction);
    ToolBar1->addAction(BroadcastAction);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(UDPPortkaEdit);
}

void TVideoFrame::CreatePages() {
    kaPageControl = Own(this, new TkaPageControl(this), "kaPageControl");
    const auto sheet = [this](const char* name, const QString& caption) {
        auto* page = Own(this, new QWidget(kaPageControl), name);
        kaPageControl->addTab(page, caption);
        auto* fill = new QHBoxLayout(page);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->setSpacing(0);
        return page;
    };
    const auto filledPanel = [this](QWidget* sheet, const char* name) {
        auto* panel = Own(this, new TkaPanel(sheet), name);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        sheet->layout()->addWidget(panel);
        auto* fill = new QHBoxLayout(panel);
        fill->setContentsMargins(panel->frameWidth(), panel->frameWidth(), panel->frameWidth(),
                                 panel->frameWidth());
        return panel;
    };
    const auto paintBox = [this](TkaPanel* panel, const char* name) {
        auto* box = Own(this, new TPaintBox(panel), name);
        panel->layout()->addWidget(box);
        return box;
    };

    VideoTabSheet = sheet("VideoTabSheet", QStringLiteral("Video"));
    BkgkaPanel = filledPanel(VideoTabSheet, "BkgkaPanel");
    PaintBox = paintBox(BkgkaPanel, "PaintBox");
    PaintBox->OnPaint = [this](QPainter& canvas) { PaintBoxPaint(canvas); };

    MaskTabSheet = sheet("MaskTabSheet", QStringLiteral("Mask"));
    MaskToolBar = Own(this, new QToolBar(MaskTabSheet), "MaskToolBar");
    MaskToolBar->setOrientation(Qt::Vertical);
    MaskToolBar->setIconSize(QSize(16, 16));
    MaskToolBar->addAction(MaskPictureAction);
    MaskTabSheet->layout()->addWidget(MaskToolBar);
    MaskkaPanel = filledPanel(MaskTabSheet, "MaskkaPanel");
    MaskPaintBox = paintBox(MaskkaPanel, "MaskPaintBox");
    MaskPaintBox->OnPaint = [this](QPainter& canvas) { MaskPaintBoxPaint(canvas); };

    JPegTabSheet = sheet("JPegTabSheet", QStringLiteral("Compressed Video"));
    JPEGBkgkaPanel = filledPanel(JPegTabSheet, "JPEGBkgkaPanel");
    JPegPaintBox = paintBox(JPEGBkgkaPanel, "JPegPaintBox");
    JPegPaintBox->OnPaint = [this](QPainter& canvas) { JPegPaintBoxPaint(canvas); };
}

void TVideoFrame::CreateStatusBar() {
    StatusBar = Own(this, new QStatusBar(this), "StatusBar");
    StatusBar->setSizeGripEnabled(false);
    constexpr std::array<int, StatusPanelCount> widths{25, 50, 40, 40, 80, 80, 50};
    MotionLamp = new TPaintBox(StatusBar);
    MotionLamp->setFixedWidth(widths[0]);
    MotionLamp->setToolTip(HintText(PanelHintMessages[0]));
    MotionLamp->OnPaint = [this](QPainter& canvas) {
        StatusBarDrawPanel(canvas, MotionLamp->rect());
    };
    StatusBar->addWidget(MotionLamp);
    for (int i = 1; i < StatusPanelCount; ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setFixedWidth(widths[std::size_t(i)]);
        panel->setToolTip(HintText(PanelHintMessages[std::size_t(i)]));
        StatusBar->addWidget(panel);
        Panels[std::size_t(i)] = panel;
    }
}

void TVideoFrame::ConnectActions() {
    const auto execute = [this](TkaAction* action, void (TVideoFrame::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    execute(PlayAction, &TVideoFrame::PlayActionExecute);
    execute(StopAction, &TVideoFrame::StopActionExecute);
    execute(DlgFormatAction, &TVideoFrame::DlgFormatActionExecute);
    execute(DlgSourceAction, &TVideoFrame::DlgSourceActionExecute);
    execute(DlgDisplayAction, &TVideoFrame::DlgDisplayActionExecute);
    execute(VideoSetupAction, &TVideoFrame::VideoSetupActionExecute);
    // The checkable actions toggle themselves when triggered.
    connect(StretchAction, &QAction::triggered, this, &TVideoFrame::RepaintPictures);
    connect(MaskPictureAction, &QAction::triggered, MaskPaintBox, qOverload<>(&QWidget::update));
    connect(BroadcastAction, &QAction::triggered, this, [this](bool checked) {
        // Switched on before the idle pass could disable it: refused.
        if (checked && !BroadcastPossible())
            BroadcastAction->setChecked(false);
        else if (checked)
            TakeBroadcastPort();
    });
    // While broadcasting the port edit is disabled, so only its restore can
    // change it: a port restored after a restored "on" must still be used.
    connect(UDPPortkaEdit, &QLineEdit::textChanged, this, [this] {
        if (BroadcastAction->isChecked())
            TakeBroadcastPort();
    });

    connect(PlayAction, &TkaAction::OnUpdate, this, [this] {
        // The action list's own update runs first in each pass.
        ActionList1Update();
        PlayAction->setEnabled(VideoCap != nullptr && !VideoCap->DriverOpen());
    });
    connect(StopAction, &TkaAction::OnUpdate, this,
            [this] { StopAction->setEnabled(VideoCap != nullptr && VideoCap->DriverOpen()); });
    connect(StretchAction, &TkaAction::OnUpdate, this,
            [this] { StretchAction->setEnabled(kaPageControl->currentWidget() != MaskTabSheet); });
    connect(BroadcastAction, &TkaAction::OnUpdate, this, [this] {
        const bool possible = BroadcastPossible();
        // Checked and disabled would lock broadcasting on and both edits
        // off (a stored "on" with an empty source): it is switched off.
        if (!possible && BroadcastAction->isChecked()) {
            BroadcastAction->setChecked(false);
            ActionList1Update();
        }
        BroadcastAction->setEnabled(possible);
    });
}

void TVideoFrame::Loaded() {
    TTreeNodeFrame::Loaded();
    // The broadcast state was restored while the page loaded.
    if (BroadcastAction->isChecked())
        TakeBroadcastPort();
}

void TVideoFrame::SetDescription(const QString& value) {
    if (value == FDescription)
        return;
    FDescription = value;
    DescriptionkaLabel->setText(value);
    DescriptionkaLabel->adjustSize();
    // The mask itself is loaded by the mask editor; the name is kept.
    FMaskFileName = ReadComponentSetting(this, QStringLiteral("MaskFileName"), FMaskFileName);
    if (FSceneFrame == nullptr) {
        FSceneFrame =
            CreateLoaded<TSceneFrame>(objectName() + QStringLiteral("Scene"), parentWidget());
        FSceneFrame->setVisible(false);
    }
}

// ---- Capture ------------------------------------------------------------------------

void TVideoFrame::PlayActionExecute() {
    if (VideoCap == nullptr || VideoCap->DriverIndex() == -1)
        return;
    THourGlassScope busy;
    VideoCap->SetVideoPreview(false);
    VideoCap->SetDriverOpen(true);
    CaptureTimer->start();
}

void TVideoFrame::StopActionExecute() {
    CaptureTimer->stop();
    VideoCap->SetDriverOpen(false);
}

void TVideoFrame::CaptureTimerTimer() {
    CaptureTimer->stop();
    try {
        if (!VideoCap->GrabFrame()) {
            StopActionExecute();
            PlayActionExecute();
        }
    } catch (const std::exception& error) {
        // Capture goes on at the next tick whatever went wrong with this one.
        CaptureTimer->start();
        HandleApplicationError(error);
        return;
    }
    CaptureTimer->start();
}

void TVideoFrame::VideoCapFrameCallback(QObject* /*sender*/, PVIDEOHDR lpVhdr) {
    if (lpVhdr == nullptr || lpVhdr->dwBytesUsed == 0)
        return;
    BITMAPINFO info;
    VideoCap->GetBitmapInfo(info);
    if (!FPipeline->ProcessFrame(*lpVhdr, info, FrameSettings()))
        return;
    if (kaPageControl->currentWidget() == MaskTabSheet)
        MaskPaintBox->update();
    ShowAnalysisFigures();
}

TFrameSettings TVideoFrame::FrameSettings() const {
    TFrameSettings settings;
    settings.Quality = FSetupForm->Quality();
    settings.Broadcast = BroadcastAction->isChecked();
    settings.Source = SourcekaEdit->text();
    return settings;
}

void TVideoFrame::ConnectPipeline() {
    FPipeline->OnPictures = [this](TkaFramePipeline*) {
        SetLastFrameTime(Now());
        if (kaPageControl->currentWidget() == VideoTabSheet)
            PaintBox->update();
    };
    FPipeline->OnMotion = [this](TkaFramePipeline*, bool motion) { SetMotion(motion); };
    FPipeline->OnStore = [this](TkaFramePipeline*, const TJPEGImage&) { StoreMotionPicture(); };
    FPipeline->OnCompressed = [this](TkaFramePipeline*) { ShowMotionPicture(); };
    // Broadcasting stops quietly until the user switches it on again.
    FPipeline->OnBroadcastFailed = [this](TkaFramePipeline*) {
        BroadcastAction->setChecked(false);
    };
}

void TVideoFrame::StoreMotionPicture() {
    if (FSceneFrame == nullptr)
        return;
    const auto repaintTree = [this] {
        if (Node() != nullptr && Node()->treeWidget() != nullptr)
            Node()->treeWidget()->viewport()->update();
    };
    // The guard answers false when no scene directory is set.
    if (FSceneFrame->GuardDiskSpace(repaintTree))
        FSceneFrame->AddPicture(Jpeg());
}

void TVideoFrame::ShowMotionPicture() {
    SetPanelText(4, QString::number(Jpeg().Size()) + QStringLiteral(" Byte"));
    if (kaPageControl->currentWidget() == JPegTabSheet)
        JPegPaintBox->update();
}

bool TVideoFrame::BroadcastPossible() const {
    return !SourcekaEdit->text().isEmpty() && PortNumber(UDPPortkaEdit->text()) > 0;
}

void TVideoFrame::TakeBroadcastPort() {
    IdUDPClient->SetPort(PortNumber(UDPPortkaEdit->text()));
}

void TVideoFrame::ShowAnalysisFigures() {
    SetPanelText(1, QString::number(kaPictureAnalyser->CountMaxSegments()));
    SetPanelText(2, QString::number(RoundEven(kaPictureAnalyser->TotalMaxSegmentDelta() * 100)) +
                        QStringLiteral(" %"));
    SetPanelText(3, QString::number(RoundEven(kaPictureAnalyser->Brightness() / 768 * 100)) +
                        QStringLiteral(" %"));
}

void TVideoFrame::kaPictureAnalyserThresholdMaxSegment(TkaPictureAnalyser* sender, double /*value*/,
                                                       bool& isMotion) {
    if (TkaFramePipeline::MotionRule(*sender, FSetupForm->MotionSegments(), isMotion))
        SetCountMove(FCountMove + 1);
}

// ---- Display state --------------------------------------------------------------------

void TVideoFrame::SetMotion(bool value) {
    if (value != FMotion) {
        FMotion = value;
        MotionLamp->update();
    }
    if (FMotion)
        SetLastMotionTime(Now());
}

void TVideoFrame::SetLastMotionTime(double value) {
    if (value == FLastMotionTime)
        return;
    FLastMotionTime = value;
    LastMotionkaLabel->setText(MessageText(MessageHandle(LastMotionMessage)) +
                               QStringLiteral(": ") + TimeText(value));
    FitTimeLabels();
}

void TVideoFrame::SetLastFrameTime(double value) {
    if (value == FLastFrameTime)
        return;
    FLastFrameTime = value;
    LastUpdatekaLabel->setText(MessageText(MessageHandle(PictureTimeMessage)) +
                               QStringLiteral(": ") + TimeText(value));
    FitTimeLabels();
}

void TVideoFrame::FitTimeLabels() {
    FitLabel(LastUpdatekaLabel, LastUpdateLabelWidth);
    FitLabel(LastMotionkaLabel, LastMotionLabelWidth);
    // The motion label follows the picture label at the designed gap.
    LastMotionkaLabel->move(
        std::max(LastMotionLabelLeft, LastUpdatekaLabel->geometry().right() + 10),
        LastMotionkaLabel->y());
}

void TVideoFrame::SetCountMove(int value) {
    if (value == FCountMove)
        return;
    FCountMove = value;
    SetPanelText(6, QString::number(value));
}

QString TVideoFrame::PanelText(int index) const {
    if (index <= 0 || index >= StatusPanelCount)
        return QString();
    return Panels[std::size_t(index)]->text();
}

void TVideoFrame::SetPanelText(int index, const QString& text) {
    Panels[std::size_t(index)]->setText(text);
}

void TVideoFrame::StatusBarDrawPanel(QPainter& canvas, const QRect& rect) {
    canvas.fillRect(rect,
                    FMotion ? QColor(0, 255, 0) : StatusBar->palette().color(QPalette::Window));
}

// ---- Painting -------------------------------------------------------------------------------

void TVideoFrame::DrawPicture(QPainter& canvas, const QSize& box, const QImage& picture) const {
    if (picture.isNull())
        return;
    if (StretchAction->isChecked())
        canvas.drawImage(QRect(QPoint(0, 0), box), picture);
    else
        canvas.drawImage(
            QPoint((box.width() - picture.width()) / 2, (box.height() - picture.height()) / 2),
            picture);
}

void TVideoFrame::PaintBoxPaint(QPainter& canvas) {
    DrawPicture(canvas, PaintBox->size(), DisplayBitmap());
}

void TVideoFrame::JPegPaintBoxPaint(QPainter& canvas) {
    const TJPEGImage& jpeg = Jpeg();
    if (jpeg.Empty())
        return;
    const QSize box = JPegPaintBox->size();
    if (StretchAction->isChecked())
        jpeg.StretchDraw(canvas, QRect(QPoint(0, 0), box));
    else
        jpeg.Draw(canvas,
                  QPoint((box.width() - jpeg.Width()) / 2, (box.height() - jpeg.Height()) / 2));
}

void TVideoFrame::MaskPaintBoxPaint(QPainter& canvas) {
    canvas.drawImage(QPoint(0, 0),
                     MaskPictureAction->isChecked() ? AnalysisBitmap() : MaskBitmap());
}

void TVideoFrame::RepaintPictures() {
    PaintBox->update();
    JPegPaintBox->update();
    MaskPaintBox->update();
}

// ---- Driver dialogs -------------------------------------------------------------------------

void TVideoFrame::DlgFormatActionExecute() {
    if (VideoCap == nullptr)
        return;
    const int oldWidth = VideoCap->ImageWidth();
    const int oldHeight = VideoCap->ImageHeight();
    VideoCap->DlgVideoFormat();
    const int newWidth = VideoCap->ImageWidth();
    const int newHeight = VideoCap->ImageHeight();
    if (newWidth != oldWidth || newHeight != oldHeight)
        RescaleMask(oldWidth, oldHeight, newWidth, newHeight);
    PaintBox->update();
    MaskPaintBox->update();
    JPegPaintBox->update();
    FPipeline->ClearAnalysisBitmap();
}

// Stretches the part of the mask that covered the old picture over the new
// one; the rest of the mask becomes white.
void TVideoFrame::RescaleMask(int oldWidth, int oldHeight, int newWidth, int newHeight) {
    // Before the driver's first connection the old size is unknown (0): there
    // is nothing to stretch, and wiping the mask would lose the user's work.
    if (oldWidth <= 0 || oldHeight <= 0 || newWidth <= 0 || newHeight <= 0)
        return;
    QImage& mask = FPipeline->MaskBitmap();
    // The old picture as the mask saw it; beyond the mask nothing was masked.
    QImage old(oldWidth, oldHeight, QImage::Format_Indexed8);
    old.setColorTable(mask.colorTable());
    const int white = int(mask.colorTable().indexOf(qRgb(255, 255, 255)));
    old.fill(uint(std::max(white, 0)));
    for (int y = 0; y < std::min(oldHeight, mask.height()); ++y)
        std::memcpy(old.scanLine(y), mask.constScanLine(y),
                    std::size_t(std::min(oldWidth, mask.width())));
    mask.fill(uint(std::max(white, 0)));
    const int width = std::min(newWidth, mask.width());
    const int height = std::min(newHeight, mask.height());
    for (int y = 0; y < height; ++y) {
        const uchar* source = old.constScanLine(int(qint64(y) * oldHeight / newHeight));
        uchar* target = mask.scanLine(y);
        for (int x = 0; x < width; ++x)
            target[x] = source[qint64(x) * oldWidth / newWidth];
    }
}

void TVideoFrame::DlgSourceActionExecute() {
    if (VideoCap != nullptr)
        VideoCap->DlgVideoSource();
}

void TVideoFrame::DlgDisplayActionExecute() {
    if (VideoCap != nullptr)
        VideoCap->DlgVideoDisplay();
}

void TVideoFrame::VideoSetupActionExecute() {
    FSetupForm->show();
}

// ---- Broadcast controls -----------------------------------------------------------------

void TVideoFrame::ActionList1Update() {
    // Source name and port cannot change while broadcasting.
    const bool editable = !BroadcastAction->isChecked();
    SourcekaEdit->setEnabled(editable);
    UDPPortkaEdit->setEnabled(editable);
}

bool TVideoFrame::SourceKeyAccepted(const QKeyEvent& key) const {
    const std::optional<QChar> typed = TypedCharacter(key);
    if (!typed)
        return true;
    const QChar c = *typed;
    return c == QChar(u'\b') || IsAsciiDigit(c) || IsAsciiLetter(c) || c == QLatin1Char('_');
}

bool TVideoFrame::PortKeyAccepted(const QKeyEvent& key) const {
    const std::optional<QChar> typed = TypedCharacter(key);
    return !typed || IsAsciiDigit(*typed);
}

bool TVideoFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (watched == SourcekaEdit && !SourceKeyAccepted(key))
            return true;
        if (watched == UDPPortkaEdit && !PortKeyAccepted(key))
            return true;
    }
    return TTreeNodeFrame::eventFilter(watched, event);
}

// ---- Page housekeeping --------------------------------------------------------------------

void TVideoFrame::setVisible(bool visible) {
    const bool wasHidden = isHidden();
    TTreeNodeFrame::setVisible(visible);
    if (wasHidden == isHidden())
        return;
    if (isHidden()) {
        FSetupWasVisible = FSetupForm->isVisible();
        FSetupForm->hide();
    } else if (FSetupWasVisible) {
        FSetupForm->show();
        window()->activateWindow();
    }
}

void TVideoFrame::resizeEvent(QResizeEvent* event) {
    TTreeNodeFrame::resizeEvent(event);
    const QPoint portLeft = UDPPortkaEdit->mapTo(this, QPoint(0, 0));
    setMinimumSize(portLeft.x() + UDPPortkaEdit->width() + 10, 200);
}

void TVideoFrame::kaLanguage1BeforeExport() {
    for (const QObject* component :
         std::initializer_list<const QObject*>{SourcekaEdit, DescriptionkaLabel, LastUpdatekaLabel,
                                               LastMotionkaLabel, ToolBar1, MaskToolBar})
        ExcludeFromLanguage(component);
}
