#include "frVideo.h"

#include "ApplicationErrors.h"
#include "FVideoSetup.h"
#include "IdUDPClient.h"
#include "PaintBox.h"
#include "THourGlass.h"
#include "TkaDialogs.h"
#include "frScene.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaHotkey.h"
#include "kaLabel.h"
#include "kaLanguage.h"
#include "kaMaskBitmap.h"
#include "kaMaskFile.h"
#include "kaPageControl.h"
#include "kaPanel.h"
#include "kaPictureAnalyser.h"
#include "kaTimeText.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QRegularExpressionValidator>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItem>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

namespace {

// ---- Messages ------------------------------------------------------------------

TkaMessage MaskModifiedMessage{QStringLiteral("FRVIDEO_MSG_MASKMODIFIED"),
                               QStringLiteral("is modified! Save?")};
TkaMessage LastMotionMessage{QStringLiteral("FRVIDEO_MSG_LASTMOTION"),
                             QStringLiteral("Last Motion")};
TkaMessage PictureTimeMessage{QStringLiteral("FRVIDEO_MSG_PICTURETIME"),
                              QStringLiteral("Last Picture")};
TkaMessage NoPicturesMessage{QStringLiteral("FRVIDEO_MSG_NOPICTURES"),
                             QStringLiteral("No pictures from the camera since")};
TkaMessage NoSceneFrameMessage{QStringLiteral("FRVIDEO_MSG_NOSCENEFRAME"),
                               QStringLiteral("Nothing is recorded, the camera has no scene "
                                              "settings")};
TkaMessage ConnectingMessage{QStringLiteral("FRVIDEO_MSG_CONNECTING"),
                             QStringLiteral("Connecting")};
constexpr double SecondsPerDay = 24.0 * 60 * 60;

// Tool tips of the broadcast edits and the status panels (panel 5 only says
// while the camera is connecting).
TkaMessage SourceHintMessage{
    QStringLiteral("FRVIDEO_MSG_HINTSOURCE"),
    QStringLiteral("Camera name sent with every broadcast picture (letters, digits, _)")};
TkaMessage PortHintMessage{QStringLiteral("FRVIDEO_MSG_HINTPORT"),
                           QStringLiteral("UDP port the pictures are broadcast to")};
std::array<std::optional<TkaMessage>, TVideoFrame::StatusPanelCount> PanelHintMessages{{
    TkaMessage{QStringLiteral("FRVIDEO_MSG_HINTLAMP"),
               QStringLiteral("Lit while the latest picture shows motion")},
    TkaMessage{QStringLiteral("FRVIDEO_MSG_HINTSEGMENTS"),
               QStringLiteral("Segments that changed more than the threshold")},
    TkaMessage{QStringLiteral("FRVIDEO_MSG_HINTMAXCHANGE"),
               QStringLiteral("Largest change of a segment")},
    TkaMessage{QStringLiteral("FRVIDEO_MSG_HINTBRIGHTNESS"),
               QStringLiteral("Brightness of the picture")},
    TkaMessage{QStringLiteral("FRVIDEO_MSG_HINTJPEGSIZE"),
               QStringLiteral("Size of the latest motion picture")},
    std::nullopt,
    TkaMessage{QStringLiteral("FRVIDEO_MSG_HINTCOUNTMOVE"),
               QStringLiteral("Motion pictures since the program started")},
}};

QString HintText(std::optional<TkaMessage>& message) {
    return message ? message->Text() : QString();
}

void RegisterUnitMessages() {
    for (TkaMessage* message :
         {&MaskModifiedMessage, &LastMotionMessage, &PictureTimeMessage, &SourceHintMessage,
          &PortHintMessage, &NoPicturesMessage, &NoSceneFrameMessage, &ConnectingMessage})
        message->Handle();
    for (std::optional<TkaMessage>& message : PanelHintMessages) {
        if (message)
            message->Handle();
    }
    TSceneFrame::RegisterMessages();
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

// The second a time label shows: the labels change only when it does.
qint64 ShownSecond(double dateTime) {
    return DateTimeToQDateTime(dateTime).toSecsSinceEpoch();
}

// Where a picture of Size lies in a box: stretched over it or centred, with
// negative offsets when it is larger than the box.
QRect PictureRect(const QSize& box, const QSize& size, bool stretch) {
    if (stretch)
        return QRect(QPoint(0, 0), box);
    return QRect(QPoint((box.width() - size.width()) / 2, (box.height() - size.height()) / 2),
                 size);
}

// The picture boxes are opaque: what the picture leaves free of the box is
// filled in the colour of the panel behind it.
void FillAround(QPainter& canvas, const QWidget& box, const QRect& picture) {
    const QColor colour = box.palette().color(QPalette::Window);
    for (const QRect& free : QRegion(box.rect()).subtracted(QRegion(picture)))
        canvas.fillRect(free, colour);
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

// ---- Mask editor -------------------------------------------------------------------

const QString MaskFilter = QStringLiteral("Mask (*.msk);;All Files (*)");
const QString MaskExtension = QStringLiteral("msk");
const QString UnknownMaskName = QStringLiteral("unknown.msk");

// The save dialog's default extension: a name typed without one gets ".msk".
QString WithMaskExtension(const QString& fileName) {
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + QLatin1Char('.') + MaskExtension
                                                  : fileName;
}

QString ErrorText(const std::exception& error) {
    const auto* kaError = dynamic_cast<const EkaError*>(&error);
    return kaError != nullptr ? kaError->message() : QString::fromLocal8Bit(error.what());
}

enum class TMaskTool { Pen, Rubber, Line, Clear };

// The mask toolbar's pictures, drawn at 16 x 16.
QIcon MaskToolIcon(TMaskTool tool, int lineWidth = 0) {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (tool) {
    case TMaskTool::Pen:
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(QColor(230, 180, 60));
        painter.drawPolygon(QPolygonF({{3, 13}, {4.5, 9}, {12, 1.5}, {14.5, 4}, {7, 11.5}}));
        painter.setBrush(Qt::black);
        painter.drawPolygon(QPolygonF({{3, 13}, {3.8, 10.8}, {5.2, 12.2}}));
        break;
    case TMaskTool::Rubber:
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(QColor(240, 120, 150));
        painter.drawPolygon(QPolygonF({{2, 10}, {9, 3}, {14, 8}, {7, 15}}));
        painter.setBrush(Qt::white);
        painter.drawPolygon(QPolygonF({{2, 10}, {5, 7}, {10, 12}, {7, 15}}));
        break;
    case TMaskTool::Line:
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillRect(QRect(1, 8 - lineWidth / 2, 14, lineWidth), Qt::black);
        break;
    case TMaskTool::Clear:
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(2.5, 1.5, 11, 13));
        painter.setPen(QPen(Qt::red, 2));
        painter.drawLine(QPointF(5, 5), QPointF(11, 11));
        painter.drawLine(QPointF(11, 5), QPointF(5, 11));
        break;
    }
    return QIcon(picture);
}

} // namespace

// ---- Construction ----------------------------------------------------------------

TVideoFrame::TVideoFrame(QObject* owner, QWidget* parent, int number)
    : TTreeNodeFrame(owner, parent), FNumber(number > 0 ? number : NextPageNumber()),
      FNumberGiven(number > 0) {
    // Named before any component exists: their settings are keyed below the
    // page's name, and remanent actions restore while the page loads.
    setObjectName(QStringLiteral("VideoFrame%1").arg(FNumber));
    RegisterUnitMessages();
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

QString TVideoFrame::DefaultSourceName(int number) {
    const QString name = QStringLiteral("MyCam");
    return number <= 1 ? name : name + QString::number(number);
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
    VideoCap->OnConnected = [this](QObject*, std::exception_ptr failure) {
        DriverConnected(failure);
    };

    CreatePages();
    column->addWidget(kaPageControl, 1);
    CreateStatusBar();
    column->addWidget(StatusBar);

    CaptureTimer = Own(this, new QTimer(this), "CaptureTimer");
    CaptureTimer->setInterval(100);
    connect(CaptureTimer, &QTimer::timeout, this, &TVideoFrame::CaptureTimerTimer);
    // Apart from the capture timer: a grab that never returns stops that one.
    PictureWatchTimer = new QTimer(this);
    PictureWatchTimer->setInterval(PictureWatchInterval);
    connect(PictureWatchTimer, &QTimer::timeout, this, &TVideoFrame::CheckPictures);

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
    CaptionAccess::SetHint(action, hint);
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
    CreateMaskActions();
}

void TVideoFrame::CreateMaskActions() {
    const auto maskAction = [this](const char* name, const QIcon& icon, bool checkable) {
        TkaAction* action = NewAction(QString::fromLatin1(name), QString(), QString());
        action->setIcon(icon);
        action->setCheckable(checkable);
        return action;
    };
    Pen1Action = maskAction("Pen1Action", MaskToolIcon(TMaskTool::Pen), true);
    Pen1Action->setChecked(true);
    Rubber1Action = maskAction("Rubber1Action", MaskToolIcon(TMaskTool::Rubber), true);
    Line1Action = maskAction("Line1Action", MaskToolIcon(TMaskTool::Line, 1), true);
    Line2Action = maskAction("Line2Action", MaskToolIcon(TMaskTool::Line, 2), true);
    Line3Action = maskAction("Line3Action", MaskToolIcon(TMaskTool::Line, 4), true);
    Line3Action->setChecked(true);
    Line4Action = maskAction("Line4Action", MaskToolIcon(TMaskTool::Line, 8), true);
    MaskLoadAction =
        maskAction("MaskLoadAction", style()->standardIcon(QStyle::SP_DialogOpenButton), false);
    MaskLoadAction->setText(QStringLiteral("Open a Mask"));
    CaptionAccess::SetHint(MaskLoadAction, QStringLiteral("Open a Mask"));
    MaskSaveAction =
        maskAction("MaskSaveAction", style()->standardIcon(QStyle::SP_DialogSaveButton), false);
    MaskSaveAction->setText(QStringLiteral("Save mask to file"));
    CaptionAccess::SetHint(MaskSaveAction, QStringLiteral("Save mask to file"));
    MaskClearAction = maskAction("MaskClearAction", MaskToolIcon(TMaskTool::Clear), false);
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
    // Pages of the running count (no camera's own number) share the plain name.
    SourcekaEdit->setText(DefaultSourceName(FNumberGiven ? FNumber : 1));
    SourcekaEdit->setValidator(SourceValidator(SourcekaEdit));
    SourcekaEdit->setToolTip(SourceHintMessage.Text());
    SourcekaEdit->installEventFilter(this);
    UDPPortkaEdit = Own(this, new TkaEdit(ToolBar1), "UDPPortkaEdit");
    UDPPortkaEdit->setFixedWidth(40);
    UDPPortkaEdit->SetRemanent(true);
    UDPPortkaEdit->setText(QStringLiteral("4032"));
    UDPPortkaEdit->setValidator(PortValidator(UDPPortkaEdit));
    UDPPortkaEdit->setToolTip(PortHintMessage.Text());
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
    // Opaque: a new frame repaints the box alone, not the panels behind it
    // (the box fills what the picture leaves free itself).
    PaintBox->setAttribute(Qt::WA_OpaquePaintEvent);

    MaskTabSheet = sheet("MaskTabSheet", QStringLiteral("Mask"));
    CreateMaskToolBar();
    MaskkaPanel = filledPanel(MaskTabSheet, "MaskkaPanel");
    MaskPaintBox = paintBox(MaskkaPanel, "MaskPaintBox");
    MaskPaintBox->OnPaint = [this](QPainter& canvas) { MaskPaintBoxPaint(canvas); };
    MaskPaintBox->setAttribute(Qt::WA_OpaquePaintEvent);
    MaskPaintBox->setCursor(Qt::CrossCursor);
    MaskPaintBox->installEventFilter(this);

    JPegTabSheet = sheet("JPegTabSheet", QStringLiteral("Compressed Video"));
    JPEGBkgkaPanel = filledPanel(JPegTabSheet, "JPEGBkgkaPanel");
    JPegPaintBox = paintBox(JPEGBkgkaPanel, "JPegPaintBox");
    JPegPaintBox->OnPaint = [this](QPainter& canvas) { JPegPaintBoxPaint(canvas); };
    JPegPaintBox->setAttribute(Qt::WA_OpaquePaintEvent);
}

void TVideoFrame::CreateMaskToolBar() {
    MaskToolBar = Own(this, new QToolBar(MaskTabSheet), "MaskToolBar");
    MaskToolBar->setOrientation(Qt::Vertical);
    MaskToolBar->setIconSize(QSize(16, 16));
    MaskToolBar->setContentsMargins(2, 2, 2, 2);
    for (TkaAction* action : {Pen1Action, Rubber1Action})
        MaskToolBar->addAction(action);
    MaskToolBar->addSeparator();
    MaskToolBar->addAction(MaskPictureAction);
    MaskToolBar->addSeparator();
    for (TkaAction* action : {Line1Action, Line2Action, Line3Action, Line4Action})
        MaskToolBar->addAction(action);
    MaskToolBar->addSeparator();
    MaskToolBar->addAction(MaskLoadAction);
    MaskToolBar->addAction(MaskSaveAction);
    MaskToolBar->addSeparator();
    MaskToolBar->addAction(MaskClearAction);
    MaskTabSheet->layout()->addWidget(MaskToolBar);
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
    // The lamp fills all of itself.
    MotionLamp->setAttribute(Qt::WA_OpaquePaintEvent);
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
                [this, handler] { RunHandled([&] { (this->*handler)(); }); });
    };
    execute(PlayAction, &TVideoFrame::PlayActionExecute);
    execute(StopAction, &TVideoFrame::StopActionExecute);
    execute(DlgFormatAction, &TVideoFrame::DlgFormatActionExecute);
    execute(DlgSourceAction, &TVideoFrame::DlgSourceActionExecute);
    execute(DlgDisplayAction, &TVideoFrame::DlgDisplayActionExecute);
    execute(VideoSetupAction, &TVideoFrame::VideoSetupActionExecute);
    execute(Pen1Action, &TVideoFrame::Pen1ActionExecute);
    execute(Rubber1Action, &TVideoFrame::Rubber1ActionExecute);
    execute(MaskLoadAction, &TVideoFrame::MaskLoadActionExecute);
    execute(MaskSaveAction, &TVideoFrame::MaskSaveActionExecute);
    execute(MaskClearAction, &TVideoFrame::MaskClearActionExecute);
    for (TkaAction* line : {Line1Action, Line2Action, Line3Action, Line4Action})
        connect(line, &QAction::triggered, this,
                [this, line] { RunHandled([&] { LineActionExecute(line); }); });
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

void TVideoFrame::RegisterMessages() {
    RegisterUnitMessages();
}

void TVideoFrame::SetDescription(const QString& value) {
    if (value == FDescription)
        return;
    FDescription = value;
    DescriptionkaLabel->setText(value);
    DescriptionkaLabel->adjustSize();
    const QString maskFile =
        ReadComponentSetting(this, QStringLiteral("MaskFileName"), FMaskFileName);
    // A damaged mask file must not keep the camera from its page: the user
    // is told, the page watches everything, and the name stays.
    RunHandled([&] { LoadMask(maskFile); });
    if (FSceneFrame == nullptr)
        CreateSceneFrame();
}

void TVideoFrame::CreateSceneFrame() {
    try {
        FSceneFrame =
            CreateLoaded<TSceneFrame>(objectName() + QStringLiteral("Scene"), parentWidget());
    } catch (const std::exception& error) {
        // The page goes on without recordings: it must say so where it shows.
        FSceneFrameFailure = NoSceneFrameMessage.Text() + QStringLiteral(": ") + ErrorText(error);
        ShowTrouble();
        throw;
    }
    FSceneFrameFailure.clear();
    FSceneFrame->setVisible(false);
    connect(FSceneFrame, &TSceneFrame::RecordingFailureChanged, this,
            &TVideoFrame::ShowRecordingFailure);
    ShowTrouble();
}

// ---- Capture ------------------------------------------------------------------------

void TVideoFrame::PlayActionExecute() {
    if (VideoCap == nullptr || VideoCap->DriverIndex() == -1)
        return;
    OpenDriver();
    FStartConnecting = VideoCap->Connecting();
    FReconnectFailing = false;
    if (!NoPictures())
        FPictureSince = Now();
    PictureWatchTimer->start();
}

void TVideoFrame::StopActionExecute() {
    CloseDriver();
    PictureWatchTimer->stop();
    FPictureSince = 0;
    EndNoPictures();
}

void TVideoFrame::OpenDriver() {
    THourGlassScope busy;
    VideoCap->SetVideoPreview(false);
    VideoCap->SetDriverOpen(true);
    CaptureTimer->start();
    if (VideoCap->Connecting())
        SetPanelText(5, ConnectingMessage.Text());
}

void TVideoFrame::CloseDriver() {
    CaptureTimer->stop();
    VideoCap->SetDriverOpen(false);
    FStartConnecting = false;
    SetPanelText(5, QString());
}

void TVideoFrame::DriverConnected(std::exception_ptr failure) {
    SetPanelText(5, QString());
    const bool started = std::exchange(FStartConnecting, false);
    if (!failure) {
        FReconnectFailing = false;
        return;
    }
    if (started) {
        // As after a start that failed at once: the page is stopped again.
        StopActionExecute();
    } else if (std::exchange(FReconnectFailing, true)) {
        return;
    }
    // Last: the box runs an event loop that may end this page.
    RunHandled([failure] { std::rethrow_exception(failure); });
}

void TVideoFrame::Reconnect() {
    CloseDriver();
    if (VideoCap->DriverIndex() == -1)
        return;
    try {
        OpenDriver();
        // A camera that answers later settles the failure state then.
        if (!VideoCap->Connecting())
            FReconnectFailing = false;
    } catch (const std::exception&) {
        // The silence of the camera shows on the page; one box is enough.
        if (std::exchange(FReconnectFailing, true))
            return;
        throw;
    }
}

void TVideoFrame::CaptureTimerTimer() {
    CaptureTimer->stop();
    RunHandled([this] {
        // Capture goes on at the next tick whatever goes wrong with this one,
        // also while the error is shown.
        const auto restart = qScopeGuard([this] {
            CaptureTimer->start();
            CheckPictures();
        });
        if (!VideoCap->GrabFrame())
            Reconnect();
    });
}

void TVideoFrame::PictureArrived() {
    FPictureSince = Now();
    EndNoPictures();
}

void TVideoFrame::CheckPictures() {
    if (!CaptureTimer->isActive() || NoPictures() || FPictureSince == 0)
        return;
    if ((Now() - FPictureSince) * SecondsPerDay < NoPictureSeconds)
        return;
    FNoPicturesSince = FPictureSince;
    MotionLamp->update();
    ShowTrouble();
    // The page shows it; the log keeps one row per silence.
    RunHandled([this] {
        LogApplicationError(ENoPictures(Description() + QStringLiteral(": ") + NoPicturesText()));
    });
}

void TVideoFrame::EndNoPictures() {
    if (!NoPictures())
        return;
    FNoPicturesSince = 0;
    MotionLamp->update();
    ShowTrouble();
}

QString TVideoFrame::NoPicturesText() const {
    if (!NoPictures())
        return {};
    return NoPicturesMessage.Text() + QLatin1Char(' ') + DateTimeText(FNoPicturesSince);
}

void TVideoFrame::VideoCapFrameCallback(QObject* /*sender*/, PVIDEOHDR lpVhdr) {
    if (lpVhdr == nullptr || lpVhdr->dwBytesUsed == 0)
        return;
    BITMAPINFO info;
    VideoCap->GetBitmapInfo(info);
    if (!FPipeline->ProcessFrame(*lpVhdr, info, FrameSettings()))
        return;
    // The new analysis picture holds the strokes through the mask.
    FStrokeOverlay = QImage();
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
        PictureArrived();
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
    // The guard answers false when no scene directory is set.
    if (FSceneFrame->GuardDiskSpace())
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
    // Text and size stay within the second the label already shows.
    const qint64 second = ShownSecond(value);
    if (second == FLastMotionSecond)
        return;
    FLastMotionSecond = second;
    LastMotionkaLabel->setText(LastMotionMessage.Text() + QStringLiteral(": ") +
                               DateTimeText(value));
    FitTimeLabels();
}

void TVideoFrame::SetLastFrameTime(double value) {
    if (value == FLastFrameTime)
        return;
    FLastFrameTime = value;
    const qint64 second = ShownSecond(value);
    if (second == FLastFrameSecond)
        return;
    FLastFrameSecond = second;
    LastUpdatekaLabel->setText(PictureTimeMessage.Text() + QStringLiteral(": ") +
                               DateTimeText(value));
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

void TVideoFrame::ShowRecordingFailure(const QString& failure) {
    FRecordingFailure = failure;
    ShowTrouble();
}

void TVideoFrame::ShowTrouble() {
    QStringList troubles;
    if (NoPictures())
        troubles << NoPicturesText();
    if (!FSceneFrameFailure.isEmpty())
        troubles << FSceneFrameFailure;
    if (!FRecordingFailure.isEmpty())
        troubles << TSceneFrame::FailureText(FRecordingFailure);
    if (FRecordingFailureLabel == nullptr) {
        if (troubles.isEmpty())
            return;
        FRecordingFailureLabel = new QLabel(StatusBar);
        QPalette palette = FRecordingFailureLabel->palette();
        palette.setColor(QPalette::WindowText, Qt::red);
        FRecordingFailureLabel->setPalette(palette);
        StatusBar->addPermanentWidget(FRecordingFailureLabel, 1);
    }
    FRecordingFailureLabel->setText(troubles.join(QStringLiteral("; ")));
    FRecordingFailureLabel->setToolTip(FRecordingFailureLabel->text());
    FRecordingFailureLabel->setVisible(!troubles.isEmpty());
    emit TroubleChanged();
}

void TVideoFrame::SetPanelText(int index, const QString& text) {
    Panels[std::size_t(index)]->setText(text);
}

void TVideoFrame::StatusBarDrawPanel(QPainter& canvas, const QRect& rect) {
    // Grey while the camera is silent: its last verdict is no news.
    const QColor colour = NoPictures() ? QColor(Qt::gray)
                          : FMotion    ? QColor(0, 255, 0)
                                       : StatusBar->palette().color(QPalette::Window);
    canvas.fillRect(rect, colour);
}

// ---- Painting -------------------------------------------------------------------------------

void TVideoFrame::PaintBoxPaint(QPainter& canvas) {
    const QImage& picture = DisplayBitmap();
    if (picture.isNull()) {
        FillAround(canvas, *PaintBox, QRect());
        return;
    }
    const QRect target = PictureRect(PaintBox->size(), picture.size(), StretchAction->isChecked());
    // The display picture is in the screen's format: drawn unscaled it is a copy.
    if (target.size() == picture.size())
        canvas.drawImage(target.topLeft(), picture);
    else
        canvas.drawImage(target, picture);
    FillAround(canvas, *PaintBox, target);
}

void TVideoFrame::JPegPaintBoxPaint(QPainter& canvas) {
    const TJPEGImage& jpeg = Jpeg();
    if (jpeg.Empty()) {
        FillAround(canvas, *JPegPaintBox, QRect());
        return;
    }
    const bool stretch = StretchAction->isChecked();
    const QRect target =
        PictureRect(JPegPaintBox->size(), QSize(jpeg.Width(), jpeg.Height()), stretch);
    // Filled first: a picture that does not decode raises, and the box is
    // then still painted all over.
    FillAround(canvas, *JPegPaintBox, target);
    if (stretch)
        jpeg.StretchDraw(canvas, target);
    else
        jpeg.Draw(canvas, target.topLeft());
}

void TVideoFrame::MaskPaintBoxPaint(QPainter& canvas) {
    // Until the first frame (or after a format change) there is no video to
    // lay under the strokes: the mask itself shows what is painted.
    const QImage& picture = FPipeline->AnalysisScreenBitmap();
    if (!MaskPictureAction->isChecked() || picture.isNull()) {
        canvas.drawImage(QPoint(0, 0), MaskBitmap());
        FillAround(canvas, *MaskPaintBox, MaskBitmap().rect());
        return;
    }
    // In the screen's format, drawn unscaled: a copy, no conversion per paint.
    canvas.drawImage(QPoint(0, 0), picture);
    if (!FStrokeOverlay.isNull())
        canvas.drawImage(QPoint(0, 0), FStrokeOverlay);
    FillAround(canvas, *MaskPaintBox, picture.rect());
}

void TVideoFrame::RepaintPictures() {
    PaintBox->update();
    JPegPaintBox->update();
    MaskPaintBox->update();
}

// ---- Driver dialogs -------------------------------------------------------------------------

// The driver dialogs wait in a nested event loop while timers run on: should
// this page go meanwhile, nothing of it is touched afterwards.

void TVideoFrame::DlgFormatActionExecute() {
    if (VideoCap == nullptr)
        return;
    const QPointer<TVideoFrame> self(this);
    const int oldWidth = VideoCap->ImageWidth();
    const int oldHeight = VideoCap->ImageHeight();
    VideoCap->DlgVideoFormat();
    if (self == nullptr || VideoCap == nullptr)
        return;
    const int newWidth = VideoCap->ImageWidth();
    const int newHeight = VideoCap->ImageHeight();
    if (newWidth != oldWidth || newHeight != oldHeight)
        RescaleMask(oldWidth, oldHeight, newWidth, newHeight);
    PaintBox->update();
    MaskPaintBox->update();
    JPegPaintBox->update();
    FPipeline->ClearAnalysisBitmap();
    FStrokeOverlay = QImage();
}

// Stretches the part of the mask that covered the old picture over the new
// one; the rest of the mask becomes white.
void TVideoFrame::RescaleMask(int oldWidth, int oldHeight, int newWidth, int newHeight) {
    // Before the driver's first connection the old size is unknown (0): there
    // is nothing to stretch, and wiping the mask would lose the user's work.
    if (oldWidth <= 0 || oldHeight <= 0 || newWidth <= 0 || newHeight <= 0)
        return;
    QImage& mask = FPipeline->MaskBitmap();
    // Masks of every depth read from files: whole pixels are copied.
    const std::size_t bytes = std::size_t(std::max(mask.depth() / 8, 1));
    // The old picture as the mask saw it; beyond the mask nothing was masked.
    QImage old(oldWidth, oldHeight, mask.format());
    old.setColorTable(mask.colorTable());
    MaskBitmap::Clear(old);
    for (int y = 0; y < std::min(oldHeight, mask.height()); ++y)
        std::memcpy(old.scanLine(y), mask.constScanLine(y),
                    std::size_t(std::min(oldWidth, mask.width())) * bytes);
    // Both tables gain white alike, should they lack it.
    MaskBitmap::Clear(mask);
    const int width = std::min(newWidth, mask.width());
    const int height = std::min(newHeight, mask.height());
    for (int y = 0; y < height; ++y) {
        const uchar* source = old.constScanLine(int(qint64(y) * oldHeight / newHeight));
        uchar* target = mask.scanLine(y);
        for (int x = 0; x < width; ++x)
            std::memcpy(target + std::size_t(x) * bytes,
                        source + std::size_t(qint64(x) * oldWidth / newWidth) * bytes, bytes);
    }
}

// Nothing of the page is used after these two dialogs.
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

// ---- Mask editor ------------------------------------------------------------------------

void TVideoFrame::Pen1ActionExecute() {
    Pen1Action->setChecked(true);
    Rubber1Action->setChecked(false);
}

void TVideoFrame::Rubber1ActionExecute() {
    Rubber1Action->setChecked(true);
    Pen1Action->setChecked(false);
}

void TVideoFrame::LineActionExecute(TkaAction* action) {
    const std::array<std::pair<TkaAction*, int>, 4> widths{
        {{Line1Action, 3}, {Line2Action, 5}, {Line3Action, 10}, {Line4Action, 20}}};
    for (const auto& [line, width] : widths) {
        line->setChecked(line == action);
        if (line == action)
            FLineWidth = width;
    }
}

void TVideoFrame::MaskClearActionExecute() {
    MaskBitmap::Clear(FPipeline->MaskBitmap());
    FMaskModified = true;
    MaskPaintBox->update();
}

void TVideoFrame::MaskPaintBoxMouseDown(const QMouseEvent& event) {
    FMaskCapture = true;
    FMaskPenPosition = event.position().toPoint();
}

void TVideoFrame::MaskPaintBoxMouseMove(const QMouseEvent& event) {
    if (!FMaskCapture || !(event.buttons() & (Qt::LeftButton | Qt::RightButton)))
        return;
    const QPoint to = event.position().toPoint();
    // Only the pen with the left button hides; the right button always erases.
    const bool black = Pen1Action->isChecked() && (event.buttons() & Qt::LeftButton);
    MaskBitmap::DrawLine(FPipeline->MaskBitmap(), FMaskPenPosition, to, FLineWidth, black);

    // On the box the stroke shows at once, over the analysis picture only.
    const QImage& analysis = AnalysisBitmap();
    if (!analysis.isNull()) {
        if (FStrokeOverlay.size() != analysis.size()) {
            FStrokeOverlay = QImage(analysis.size(), QImage::Format_ARGB32_Premultiplied);
            FStrokeOverlay.fill(Qt::transparent);
        }
        QPainter overlay(&FStrokeOverlay);
        overlay.setPen(QPen(black ? Qt::black : Qt::white, FLineWidth, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        overlay.drawLine(FMaskPenPosition, to);
    }
    const int reach = FLineWidth / 2 + 2;
    MaskPaintBox->update(
        QRect(FMaskPenPosition, to).normalized().adjusted(-reach, -reach, reach, reach));
    FMaskPenPosition = to;
    FMaskModified = true;
}

void TVideoFrame::MaskPaintBoxMouseUp(const QMouseEvent& event) {
    // The stroke ends when no button is held any more.
    if (event.buttons() == Qt::NoButton)
        FMaskCapture = false;
}

void TVideoFrame::LoadMask(const QString& fileName) {
    FMaskFileName = fileName;
    // Only a new name is written: the start-up's load of the stored name must
    // not fail on a read-only "Cfg".
    const QString key = QStringLiteral("MaskFileName");
    if (ReadComponentSetting(this, key, QString()) != fileName)
        WriteComponentSetting(this, key, fileName);
    if (fileName.isEmpty() || !QFileInfo::exists(fileName))
        return;
    SetMaskBitmap(MaskFile::Read(fileName));
    FMaskModified = false;
    MaskPaintBox->update();
}

bool TVideoFrame::SaveMask(const QString& fileName) {
    try {
        MaskFile::Write(fileName, MaskBitmap());
        FMaskModified = false;
        LoadMask(fileName);
        return true;
    } catch (const std::exception& error) {
        Dialogs().ShowMessage(ErrorText(error));
        return false;
    }
}

void TVideoFrame::MaskLoadActionExecute() {
    const QString fileName =
        Dialogs().OpenFileName(MaskLoadAction->text(), FMaskDirectory, MaskFilter);
    if (fileName.isEmpty())
        return;
    try {
        LoadMask(fileName);
    } catch (const std::exception& error) {
        Dialogs().ShowMessage(ErrorText(error));
    }
}

void TVideoFrame::MaskSaveActionExecute() {
    SaveMaskAs();
}

bool TVideoFrame::SaveMaskAs() {
    const QString fileName =
        Dialogs().SaveFileName(MaskSaveAction->text(), FMaskDirectory, MaskFilter);
    return fileName.isEmpty() || SaveMask(WithMaskExtension(fileName));
}

void TVideoFrame::QueryMaskSave(bool& canClose) {
    if (!FMaskModified)
        return;
    const QString name = FMaskFileName.isEmpty() ? UnknownMaskName : FMaskFileName;
    switch (Dialogs().Confirm(name + QLatin1Char(' ') + MaskModifiedMessage.Text(),
                              TConfirmButtons::YesNoCancel)) {
    case TDialogAnswer::Yes:
        // A save that failed keeps the program, and the painted mask, alive.
        if (!(FMaskFileName.isEmpty() ? SaveMaskAs() : SaveMask(FMaskFileName)))
            canClose = false;
        break;
    case TDialogAnswer::No:
        break;
    case TDialogAnswer::Cancel:
        canClose = false;
        break;
    }
}

void TVideoFrame::SaveMaskUnasked() {
    if (!FMaskModified)
        return;
    const QString fileName =
        FMaskFileName.isEmpty()
            ? IncludeBackslash(FMaskDirectory) + QStringLiteral("unsaved-%1.msk").arg(FNumber)
            : FMaskFileName;
    const QString camera = Description().isEmpty() ? objectName() : Description();
    try {
        MaskFile::Write(fileName, MaskBitmap());
        FMaskModified = false;
        LogApplicationError(EkaError(
            QStringLiteral("The modified mask of %1 was saved to %2").arg(camera, fileName)));
    } catch (const std::exception& error) {
        RunHandled([&] {
            LogApplicationError(EkaError(QStringLiteral("The modified mask of %1 could not be "
                                                        "saved to %2: %3")
                                             .arg(camera, fileName, ErrorText(error))));
        });
    }
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
    if (watched == MaskPaintBox) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            MaskPaintBoxMouseDown(static_cast<const QMouseEvent&>(*event));
            return true;
        case QEvent::MouseMove:
            MaskPaintBoxMouseMove(static_cast<const QMouseEvent&>(*event));
            return true;
        case QEvent::MouseButtonRelease:
            MaskPaintBoxMouseUp(static_cast<const QMouseEvent&>(*event));
            return true;
        default:
            break;
        }
    }
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
