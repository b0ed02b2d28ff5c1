#include "frVideo.h"

#include "ApplicationErrors.h"
#include "FVideoSetup.h"
#include "IdUDPClient.h"
#include "PaintBox.h"
#include "StmJPG.h"
#include "THourGlass.h"
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
#include <QBuffer>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPointer>
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

TkaMessage MaskModifiedMessage{QStringLiteral("FRVIDEO_MSG_MASKMODIFIED"),
                               QStringLiteral("is modified! Save?")};
TkaMessage LastMotionMessage{QStringLiteral("FRVIDEO_MSG_LASTMOTION"),
                             QStringLiteral("Last Motion")};
TkaMessage PictureTimeMessage{QStringLiteral("FRVIDEO_MSG_PICTURETIME"),
                              QStringLiteral("Last Picture")};

void RegisterMessages() {
    for (TkaMessage* message : {&MaskModifiedMessage, &LastMotionMessage, &PictureTimeMessage})
        message->Handle();
}

// ---- Helpers ---------------------------------------------------------------------

QHostAddress& BroadcastDestination() {
    static QHostAddress address(QHostAddress::Broadcast);
    return address;
}

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

// Colour of every mask pixel value as blue, green, red bytes.
using TMaskColours = std::array<std::array<uchar, 3>, 256>;

TMaskColours MaskColours(const QImage& mask) {
    TMaskColours colours{};
    const QList<QRgb> table = mask.colorTable();
    for (int i = 0; i < int(table.size()) && i < 256; ++i)
        colours[std::size_t(i)] = {uchar(qBlue(table[i])), uchar(qGreen(table[i])),
                                   uchar(qRed(table[i]))};
    return colours;
}

// The outline of the rectangle from (X1, Y1) to (X2, Y2), right and bottom
// edges excluded, one pixel wide, clipped to a BGR888 picture.
class TOutlinePen {
public:
    TOutlinePen(QImage& picture, const std::array<uchar, 3>& bgr)
        : Bits(picture.bits()), Stride(picture.bytesPerLine()), Width(picture.width()),
          Height(picture.height()), Colour(bgr) {}

    void Rectangle(int x1, int y1, int x2, int y2) const {
        for (int x = x1; x < x2; ++x) {
            Plot(x, y1);
            Plot(x, y2 - 1);
        }
        for (int y = y1; y < y2; ++y) {
            Plot(x1, y);
            Plot(x2 - 1, y);
        }
    }

private:
    void Plot(int x, int y) const {
        if (x < 0 || y < 0 || x >= Width || y >= Height)
            return;
        std::memcpy(Bits + Stride * y + qsizetype(x) * 3, Colour.data(), 3);
    }

    uchar* Bits;
    qsizetype Stride;
    int Width;
    int Height;
    std::array<uchar, 3> Colour;
};

QImage WhiteMask(int width, int height) {
    QImage mask(width, height, QImage::Format_Indexed8);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(1);
    return mask;
}

} // namespace

void ApplyMask(QImage& picture, const QImage& mask) {
    const int width = std::min(picture.width(), mask.width());
    const int height = std::min(picture.height(), mask.height());
    if (mask.format() == QImage::Format_Indexed8) {
        const TMaskColours colours = MaskColours(mask);
        for (int y = 0; y < height; ++y) {
            uchar* pixel = picture.scanLine(y);
            const uchar* index = mask.constScanLine(y);
            for (int x = 0; x < width; ++x, pixel += 3) {
                const std::array<uchar, 3>& colour = colours[index[x]];
                pixel[0] &= colour[0];
                pixel[1] &= colour[1];
                pixel[2] &= colour[2];
            }
        }
        return;
    }
    const QImage bgr = mask.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar* pixel = picture.scanLine(y);
        const uchar* colour = bgr.constScanLine(y);
        for (int i = 0; i < width * 3; ++i)
            pixel[i] &= colour[i];
    }
}

QHostAddress BroadcastAddress() {
    return BroadcastDestination();
}

void SetBroadcastAddress(const QHostAddress& address) {
    BroadcastDestination() = address;
}

// ---- Construction ----------------------------------------------------------------

TVideoFrame::TVideoFrame(QObject* owner, QWidget* parent)
    : TTreeNodeFrame(owner, parent), FMaskBitmap(WhiteMask(MaskWidth, MaskHeight)) {
    // Named before any component exists: their settings are keyed below the
    // page's name, and remanent actions restore while the page loads.
    setObjectName(QStringLiteral("VideoFrame%1").arg(NextPageNumber()));
    RegisterMessages();
    CreateComponents();
    FLineWidth = 10;
    FDisplayBitmap = QImage();
    FAnalysisBitmap = QImage();
    kaPageControl->setCurrentWidget(VideoTabSheet);
    LastMotionkaLabel->clear();
    LastUpdatekaLabel->clear();
    FSetupForm.reset(CreateLoaded<TVideoSetupForm>(this));
    FMaskDirectory = ProgramSubDir(QStringLiteral("Mask"));
    for (int i = 1; i < StatusPanelCount; ++i)
        SetPanelText(i, QString());
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
    SourcekaEdit->installEventFilter(this);
    UDPPortkaEdit = Own(this, new TkaEdit(ToolBar1), "UDPPortkaEdit");
    UDPPortkaEdit->setFixedWidth(40);
    UDPPortkaEdit->SetRemanent(true);
    UDPPortkaEdit->setText(QStringLiteral("4032"));
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
    MotionLamp->OnPaint = [this](QPainter& canvas) {
        StatusBarDrawPanel(canvas, MotionLamp->rect());
    };
    StatusBar->addWidget(MotionLamp);
    for (int i = 1; i < StatusPanelCount; ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setFixedWidth(widths[std::size_t(i)]);
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
    // The checkable actions toggle themselves when triggered.
    connect(StretchAction, &QAction::triggered, this, &TVideoFrame::RepaintPictures);
    connect(MaskPictureAction, &QAction::triggered, MaskPaintBox, qOverload<>(&QWidget::update));
    connect(BroadcastAction, &QAction::triggered, this, [this](bool checked) {
        if (checked)
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
        BroadcastAction->setEnabled(!SourcekaEdit->text().isEmpty() &&
                                    PortNumber(UDPPortkaEdit->text()) > 0);
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
    ProcessFrame(*lpVhdr);
}

void TVideoFrame::ProcessFrame(const VIDEOHDR& header) {
    if (!FDisplayBitmap.isNull() && FDisplayBitmap.format() != QImage::Format_BGR888)
        FDisplayBitmap = FDisplayBitmap.convertToFormat(QImage::Format_BGR888);
    BITMAPINFO info;
    VideoCap->GetBitmapInfo(info);
    // A frame shorter than its format or in a format that cannot be decoded is
    // dropped like an empty one: analysing the previous picture again would
    // report a still scene that nobody saw.
    if (!FrameToBitmap(FDisplayBitmap, header.lpData, info, header.dwBytesUsed) ||
        !FrameToBitmap(FAnalysisBitmap, header.lpData, info, header.dwBytesUsed))
        return;
    SetLastFrameTime(Now());
    if (kaPageControl->currentWidget() == VideoTabSheet)
        PaintBox->update();

    ApplyMask(FAnalysisBitmap, FMaskBitmap);
    if (FAnalysisBitmap.format() != QImage::Format_BGR888)
        FAnalysisBitmap = FAnalysisBitmap.convertToFormat(QImage::Format_BGR888);

    if (kaPictureAnalyser->Analyse(FAnalysisBitmap)) {
        SetMotion(true);
        CompressMotionPicture();
        StoreMotionPicture();
        SetPanelText(4, QString::number(FJpeg.Size()) + QStringLiteral(" Byte"));
        if (kaPageControl->currentWidget() == JPegTabSheet)
            JPegPaintBox->update();
        if (BroadcastAction->isChecked())
            Broadcast();
    } else {
        SetMotion(false);
    }

    DrawSegmentRectangles();
    if (kaPageControl->currentWidget() == MaskTabSheet)
        MaskPaintBox->update();
    ShowAnalysisFigures();
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
        FSceneFrame->AddPicture(FJpeg);
}

void TVideoFrame::CompressMotionPicture() {
    FJpeg.Assign(FDisplayBitmap);
    FJpeg.SetQuality(FSetupForm->Quality());
    FJpeg.Compress();
    FJpeg.FreeBitmap();
}

void TVideoFrame::Broadcast() {
    const TStmJPG picture(SourcekaEdit->text(), FJpeg);
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    picture.SaveToStream(stream);
    stream.seek(0);
    // Too large for the buffer or for one IPv4 datagram: this picture is not
    // broadcast, the next smaller one is. (Sending it would fail and switch
    // broadcasting off for good.)
    if (stream.size() >= IdUDPClient->BufferSize() || stream.size() > TIdUDPClient::MaxDatagramSize)
        return;
    try {
        IdUDPClient->Send(stream.data(), BroadcastAddress(), IdUDPClient->Port());
    } catch (const EkaError&) {
        // Broadcasting stops quietly until the user switches it on again.
        BroadcastAction->setChecked(false);
    }
}

void TVideoFrame::TakeBroadcastPort() {
    IdUDPClient->SetPort(PortNumber(UDPPortkaEdit->text()));
}

void TVideoFrame::DrawSegmentRectangles() {
    const int xs = kaPictureAnalyser->xSegments();
    const int ys = kaPictureAnalyser->ySegments();
    const double threshold = kaPictureAnalyser->ThresholdMaxSegment();
    const double width = FAnalysisBitmap.width();
    const double height = FAnalysisBitmap.height();
    if (FAnalysisBitmap.isNull())
        return;
    const TOutlinePen red(FAnalysisBitmap, {0, 0, 255});
    // An even split of the picture, not the analyser's own segment origins.
    for (int x = 0; x < xs; ++x) {
        for (int y = 0; y < ys; ++y) {
            if (std::abs(kaPictureAnalyser->SegmentValue(x, y)) < threshold)
                continue;
            red.Rectangle(RoundEven(width / xs * x), RoundEven(height / ys * y),
                          RoundEven(width / xs * (x + 1)), RoundEven(height / ys * (y + 1)));
        }
    }
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
    // Strictly more segments than the setting make motion.
    if (sender->CountMaxSegments() <= FSetupForm->MotionSegments())
        return;
    if (!isMotion)
        SetCountMove(FCountMove + 1);
    isMotion = true;
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
    LastMotionkaLabel->setText(LastMotionMessage.Text() + QStringLiteral(": ") + TimeText(value));
    FitTimeLabels();
}

void TVideoFrame::SetLastFrameTime(double value) {
    if (value == FLastFrameTime)
        return;
    FLastFrameTime = value;
    LastUpdatekaLabel->setText(PictureTimeMessage.Text() + QStringLiteral(": ") + TimeText(value));
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
    DrawPicture(canvas, PaintBox->size(), FDisplayBitmap);
}

void TVideoFrame::JPegPaintBoxPaint(QPainter& canvas) {
    if (FJpeg.Empty())
        return;
    const QSize box = JPegPaintBox->size();
    if (StretchAction->isChecked())
        FJpeg.StretchDraw(canvas, QRect(QPoint(0, 0), box));
    else
        FJpeg.Draw(canvas,
                   QPoint((box.width() - FJpeg.Width()) / 2, (box.height() - FJpeg.Height()) / 2));
}

void TVideoFrame::MaskPaintBoxPaint(QPainter& canvas) {
    canvas.drawImage(QPoint(0, 0), MaskPictureAction->isChecked() ? FAnalysisBitmap : FMaskBitmap);
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
    FAnalysisBitmap = QImage();
}

// Stretches the part of the mask that covered the old picture over the new
// one; the rest of the mask becomes white.
void TVideoFrame::RescaleMask(int oldWidth, int oldHeight, int newWidth, int newHeight) {
    // Before the driver's first connection the old size is unknown (0): there
    // is nothing to stretch, and wiping the mask would lose the user's work.
    if (oldWidth <= 0 || oldHeight <= 0 || newWidth <= 0 || newHeight <= 0)
        return;
    // The old picture as the mask saw it; beyond the mask nothing was masked.
    QImage old(oldWidth, oldHeight, QImage::Format_Indexed8);
    old.setColorTable(FMaskBitmap.colorTable());
    const int white = int(FMaskBitmap.colorTable().indexOf(qRgb(255, 255, 255)));
    old.fill(uint(std::max(white, 0)));
    for (int y = 0; y < std::min(oldHeight, FMaskBitmap.height()); ++y)
        std::memcpy(old.scanLine(y), FMaskBitmap.constScanLine(y),
                    std::size_t(std::min(oldWidth, FMaskBitmap.width())));
    FMaskBitmap.fill(uint(std::max(white, 0)));
    const int width = std::min(newWidth, FMaskBitmap.width());
    const int height = std::min(newHeight, FMaskBitmap.height());
    for (int y = 0; y < height; ++y) {
        const uchar* source = old.constScanLine(int(qint64(y) * oldHeight / newHeight));
        uchar* target = FMaskBitmap.scanLine(y);
        for (int x = 0; x < width; ++x)
            target[x] = source[qint64(x) * oldWidth / newWidth];
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
