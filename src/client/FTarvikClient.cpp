#include "FTarvikClient.h"

#include "ApplicationErrors.h"
#include "ClientPaintBox.h"
#include "FSetup.h"
#include "IdUDPServer.h"
#include "ProgramIcons.h"
#include "SoundPlayer.h"
#include "StmObjects.h"
#include "TkaAtomicFile.h"
#include "TkaAutostartAction.h"
#include "TrayIcon.h"
#include "WindowPlacement.h"
#include "frSetup.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaApplication.h"
#include "kaApplicationEvents.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaHotkey.h"
#include "kaLanguage.h"
#include "kaPanel.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QScopeGuard>
#include <QSessionManager>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

const QString FormName = QStringLiteral("TarvikClientForm");
constexpr int ToolBarHeight = 32;
constexpr int TrackBarWidth = 81;
constexpr int CamListChars = 12;
constexpr int TrayImageSize = 32;
constexpr int StartWidth = 320;
constexpr int StartHeight = 240;
// Picture times outside the years 1 to 9999 are shown as unknown.
constexpr double MinDateTime = -693593.0;
constexpr double MaxDateTime = 2958466.0;

TkaMessage& ToolTipMessage() {
    static TkaMessage message(QStringLiteral("FTARVIKCLIENT_MSG_TOOLTIPTEXT"),
                              QStringLiteral("(right mouse button for options)"));
    return message;
}

TkaMessage& WaitingMessage() {
    static TkaMessage message(QStringLiteral("FTARVIKCLIENT_MSG_WAITING"),
                              QStringLiteral("Waiting for pictures from Tarvik"));
    return message;
}

// The camera of the package's tarvikclient.svg in front of its signal arcs;
// Lit arcs (0 to 3) glow in Glow, the others are dimmed.
QPixmap CameraPixmap(int size, int lit, const QColor& glow) {
    const QColor idle(150, 160, 175, 140);
    QByteArray source = IconSource(QStringLiteral("tarvikclient"));
    for (int arc = 0; arc < 3; ++arc)
        source = WithStroke(source, QStringLiteral("arc%1").arg(arc + 1), arc < lit ? glow : idle);
    return QPixmap::fromImage(RenderSvg(source, size));
}

// An icon at 16 and 32 pixels; Paint draws on a transparent square of Size
// pixels, in units of a sixteenth of it.
QIcon PaintedIcon(void (*paint)(QPainter& painter, qreal size, qreal unit)) {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter, size, size / 16.0);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A small gear: the setup command.
QIcon SetupIcon() {
    return PaintedIcon([](QPainter& painter, qreal size, qreal unit) {
        const QPointF centre(size / 2.0, size / 2.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(90, 100, 115));
        for (int tooth = 0; tooth < 8; ++tooth) {
            painter.save();
            painter.translate(centre);
            painter.rotate(tooth * 45.0);
            painter.drawRoundedRect(QRectF(-unit * 1.4, -unit * 7.2, unit * 2.8, unit * 3.4),
                                    unit * 0.6, unit * 0.6);
            painter.restore();
        }
        painter.drawEllipse(centre, unit * 5.2, unit * 5.2);
        painter.setBrush(QColor(235, 238, 242));
        painter.drawEllipse(centre, unit * 2.2, unit * 2.2);
    });
}

// Four arrows pointing into the corners: the stretch command.
QIcon StretchIcon() {
    return PaintedIcon([](QPainter& painter, qreal size, qreal unit) {
        painter.setPen(
            QPen(QColor(60, 90, 140), unit * 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(unit * 5, unit * 5, unit * 6, unit * 6));
        for (int corner = 0; corner < 4; ++corner) {
            painter.save();
            painter.translate(size / 2.0, size / 2.0);
            painter.rotate(corner * 90.0);
            painter.drawLine(QPointF(unit * 3.5, unit * 3.5), QPointF(unit * 7, unit * 7));
            painter.drawPolyline(
                QPolygonF({QPointF(unit * 4, unit * 7), QPointF(unit * 7, unit * 7),
                           QPointF(unit * 7, unit * 4)}));
            painter.restore();
        }
    });
}

bool FileExists(const QString& fileName) {
    const QFileInfo info(fileName);
    return !fileName.isEmpty() && info.exists() && info.isFile();
}

int PortOf(const QString& text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    // Not a number counts as 0, which the server refuses.
    return ok ? port : 0;
}

template <class Handler> void Guarded(Handler handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        HandleApplicationError(error);
    }
}

} // namespace

// ---- Construction --------------------------------------------------------------------

TTarvikClientForm::TTarvikClientForm(QWidget* parent) : QWidget(parent) {
    SetOwner(this, nullptr, FormName);
    ToolTipMessage().Handle();
    WaitingMessage().Handle();
    FTrayImages = TrayImages();
    ShowModal = [](QDialog& dialog) { dialog.exec(); };
    CreateComponents();
    CreateActions();
    CreateToolBar();
    CreateTrayMenu();
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { WMQueryEndSession(); });
    // The settings dialog lives as long as the window; its settings form a
    // chain of their own, "SetupForm".
    SetupForm = CreateLoaded<TSetupForm>(this);
    // The tool bar and the camera list hold run-time texts; a language file
    // must not empty the camera list and with it the pictures cached so far.
    kaLanguage1BeforeExport();
    ExcludeFromLanguage(CamkaComboBox);
    Own(this, new TkaHotkey(this), "kaHotkey");
    kaLanguage1 = Own(this, new TkaLanguage(this), "kaLanguage1");
    kaLanguage1->BeforeExport = [this](QObject*) { kaLanguage1BeforeExport(); };
}

void TTarvikClientForm::kaLanguage1BeforeExport() {
    ExcludeFromLanguage(ToolBar);
    for (QObject* component : OwnedComponents(this)) {
        const QString name = component->objectName();
        if (name == QLatin1String("N1") || name == QLatin1String("N2") ||
            name == QLatin1String("N3") || name == QLatin1String("N5"))
            ExcludeFromLanguage(component);
    }
}

void TTarvikClientForm::BuildLanguageMenu() {
    if (CurrentLanguageIndex() != -1)
        ActiveLanguageName = LanguageMenuName(LanguageFiles().at(CurrentLanguageIndex()));
    auto* group = new QActionGroup(LanguageSprache1);
    for (const QString& file : LanguageFiles()) {
        QAction* item = LanguageSprache1->addAction(LanguageMenuName(file));
        item->setCheckable(true);
        group->addAction(item);
        connect(item, &QAction::triggered, this,
                [this, item] { Guarded([this, item] { LanguageItemClick(item); }); });
        if (item->text() == ActiveLanguageName)
            Guarded([this, item] { LanguageItemClick(item); });
    }
    LanguageSprache1->menuAction()->setEnabled(!LanguageFiles().isEmpty());
}

void TTarvikClientForm::LanguageItemClick(QAction* item) {
    item->setChecked(true);
    const QString name = item->text().remove(QLatin1Char('&'));
    SelectLanguageByName(name);
    TrayIcon->SetToolTip(QString::fromLatin1(ProgramName) + QStringLiteral(" ") +
                         QStringLiteral(TARVIK_VERSION) + QStringLiteral("\r\n") +
                         ToolTipMessage().Text());
    ActiveLanguageName = name;
    CfgIniFile()->WriteString(QStringLiteral("General"), QStringLiteral("ActiveLanguage"), name);
}

TTarvikClientForm::~TTarvikClientForm() {
    // FormDestroy.
    delete TrayIcon;
    TrayIcon = nullptr;
    FIdUDPServer.reset();
    FCachesByHeard.clear();
    FCaches.clear();
    if (!FLastImage.Empty())
        Guarded([this] { FLastImage.SaveToFile(StartFile()); });
}

void TTarvikClientForm::CreateComponents() {
    setWindowTitle(QString::fromLatin1(ProgramName));
    setWindowIcon(FTrayImages.value(0));
    resize(DesignedWidth, DesignedHeight);
    // The window's own pop-up menu is the tray menu.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { TrayMenu->popup(mapToGlobal(position)); });

    ToolBarPanel = Own(this, new TkaPanel(this), "ToolBarPanel");
    ToolBarPanel->setFrameShape(QFrame::NoFrame);
    ToolBarPanel->setMinimumHeight(ToolBarHeight);
    ToolBar = Own(this, new QToolBar(ToolBarPanel), "ToolBar");
    ToolBar->setIconSize(QSize(16, 16));
    ToolBar->setFloatable(false);
    ToolBar->setMovable(false);
    auto* toolRow = new QHBoxLayout(ToolBarPanel);
    toolRow->setContentsMargins(2, 0, 2, 0);
    toolRow->addWidget(ToolBar);

    CamkaComboBox = Own(this, new TkaComboBox(ToolBar), "CamkaComboBox");
    CamkaComboBox->setToolTip(QStringLiteral("Select a cam for watching"));
    CamkaComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CamkaComboBox->setMinimumContentsLength(CamListChars);
    CamkaComboBox->view()->setTextElideMode(Qt::ElideRight);
    connect(CamkaComboBox, &QComboBox::activated, this,
            [this] { Guarded([this] { CamkaComboBoxClick(); }); });
    // Entries removed from outside leave caches behind; found at the next picture.
    const auto listChanged = [this] { FListChanged = true; };
    connect(CamkaComboBox->model(), &QAbstractItemModel::rowsRemoved, this, listChanged);
    connect(CamkaComboBox->model(), &QAbstractItemModel::modelReset, this, listChanged);

    kaTrackBar = Own(this, new TkaTrackBar(ToolBar), "kaTrackBar");
    kaTrackBar->setFixedWidth(TrackBarWidth);
    kaTrackBar->SetMin(0);
    kaTrackBar->SetMax(0);
    kaTrackBar->SetPosition(0);
    kaTrackBar->setPageStep(1);
    kaTrackBar->SetFrequency(1);
    kaTrackBar->setTickPosition(QSlider::TicksBelow);
    kaTrackBar->setToolTip(QStringLiteral("History Slider"));

    kaPanel1 = Own(this, new TkaPanel(this), "kaPanel1");
    kaPanel1->setFrameShape(QFrame::Panel);
    kaPanel1->setFrameShadow(QFrame::Sunken);
    kaPanel1->setMinimumSize(50, 50);
    kaPanel1->installEventFilter(this);
    PaintBox = Own(this, new TClientPaintBox(kaPanel1), "PaintBox");
    PaintBox->OnPaint = [this](QPainter& painter) { PaintBoxPaint(painter); };
    auto* picture = new QVBoxLayout(kaPanel1);
    picture->setContentsMargins(1, 1, 1, 1);
    picture->addWidget(PaintBox);
    connect(kaTrackBar, &TkaTrackBar::OnChange, PaintBox, qOverload<>(&QWidget::update));

    StatusBar = Own(this, new QStatusBar(this), "StatusBar");
    StatusBar->setSizeGripEnabled(true);
    StatusPanel = new QLabel(StatusBar);
    StatusBar->addWidget(StatusPanel, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(ToolBarPanel);
    column->addWidget(kaPanel1, 1);
    column->addWidget(StatusBar);

    PopupDelayTimer = Own(this, new QTimer(this), "PopupDelayTimer");
    PopupDelayTimer->setSingleShot(true);
    PopupDelayTimer->setInterval(DefaultPopupDelay);
    connect(PopupDelayTimer, &QTimer::timeout, this, &TTarvikClientForm::PopupDelayTimerTimer);
    TrayTimer = Own(this, new QTimer(this), "TrayTimer");
    TrayTimer->setInterval(TrayInterval);
    connect(TrayTimer, &QTimer::timeout, this, &TTarvikClientForm::TrayTimerTimer);
    PlayTimer = Own(this, new QTimer(this), "PlayTimer");
    PlayTimer->setInterval(PlayInterval);
    connect(PlayTimer, &QTimer::timeout, this, &TTarvikClientForm::PlayTimerTimer);

    // Several clients may run at once: no single start.
    kaApplicationEvents1 = Own(this, new TkaApplicationEvents(this), "kaApplicationEvents1");
    kaApplicationEvents1->SetStartOnce(false);
}

TkaAction* TTarvikClientForm::NewAction(const char* name, const QString& caption,
                                        const QString& hint, const QIcon& icon,
                                        void (TTarvikClientForm::*handler)()) {
    auto* action = Own(this, new TkaAction(ActionList), name);
    action->setText(caption);
    CaptionAccess::SetHint(action, hint);
    action->setStatusTip(hint);
    action->setIcon(icon);
    // ActionListExecute runs before the action's own handler.
    connect(action, &QAction::triggered, PaintBox, qOverload<>(&QWidget::update));
    connect(action, &QAction::triggered, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    return action;
}

void TTarvikClientForm::CreateActions() {
    ActionList = Own(this, new TkaActionList(this), "ActionList");
    QStyle* look = style();
    CloseAction = NewAction(
        "CloseAction", QStringLiteral("Exit"), QStringLiteral("Shutdown Tarvik Client"),
        look->standardIcon(QStyle::SP_DialogCloseButton), &TTarvikClientForm::CloseActionExecute);
    ShowAction =
        NewAction("ShowAction", QStringLiteral("Show"), QStringLiteral("Show Tarvik Client"),
                  QIcon(), &TTarvikClientForm::ShowActionExecute);
    HideAction =
        NewAction("HideAction", QStringLiteral("Hide"), QStringLiteral("Hide Tarvik Client"),
                  QIcon(), &TTarvikClientForm::HideActionExecute);
    SetupAction = NewAction("SetupAction", QStringLiteral("Setup ..."),
                            QStringLiteral("Configure Tarvik Client"), SetupIcon(),
                            &TTarvikClientForm::SetupActionExecute);
    StretchAction =
        NewAction("StretchAction", QStringLiteral("Stretch"), QStringLiteral("Stretch Picture"),
                  StretchIcon(), &TTarvikClientForm::StretchActionExecute);
    StretchAction->setCheckable(true);
    ShowToolbarAction = NewAction("ShowToolbarAction", QStringLiteral("Show Toolbar"),
                                  QStringLiteral("Show the Toolbar"), QIcon(),
                                  &TTarvikClientForm::ShowToolbarActionExecute);
    ShowToolbarAction->setCheckable(true);
    PlayAction =
        NewAction("PlayAction", QStringLiteral("Play"), QStringLiteral("Play"),
                  look->standardIcon(QStyle::SP_MediaPlay), &TTarvikClientForm::PlayActionExecute);
    PlayAction->setCheckable(true);
}

void TTarvikClientForm::CreateToolBar() {
    ToolBar->addWidget(CamkaComboBox);
    ToolBar->addSeparator();
    ToolBar->addWidget(kaTrackBar);
    ToolBar->addAction(PlayAction);
    ToolBar->addSeparator();
    ToolBar->addAction(StretchAction);
    // The button's hint is "Stretch"; the menu keeps the action's own.
    if (QWidget* button = ToolBar->widgetForAction(StretchAction))
        button->setToolTip(QStringLiteral("Stretch"));
    ToolBar->addAction(SetupAction);
}

void TTarvikClientForm::CreateTrayMenu() {
    TrayMenu = Own(this, new QMenu(this), "TrayMenu");
    TrayMenu->addAction(ShowToolbarAction);
    TrayMenu->addAction(StretchAction);
    Own(this, TrayMenu->addSeparator(), "N5");
    TrayMenu->addAction(SetupAction);
    Own(this, TrayMenu->addSeparator(), "N1");
    TrayMenu->addAction(ShowAction);
    TrayMenu->addAction(HideAction);
    AddAutostartAction();
    Own(this, TrayMenu->addSeparator(), "N3");
    LanguageSprache1 =
        Own(this, new QMenu(QStringLiteral("Language / Sprache"), TrayMenu), "LanguageSprache1");
    TrayMenu->addMenu(LanguageSprache1);
    // Filled with the language files at start; without any it offers nothing.
    LanguageSprache1->menuAction()->setEnabled(false);
    Own(this, TrayMenu->addSeparator(), "N2");
    TrayMenu->addAction(CloseAction);
}

void TTarvikClientForm::AddAutostartAction() {
    // Whether it then comes up hidden is the setting "Startup minimized".
    const TkaAutostart entry(QStringLiteral("tarvikclient"), QStringLiteral("Tarvik Client"),
                             QStringLiteral("Shows the pictures a Tarvik sends"),
                             QStringLiteral("tarvikclient"));
    AutostartAction = Own(this, new TkaAutostartAction(ActionList, entry), "AutostartAction");
    AutostartAction->setText(QStringLiteral("Start with the desktop session"));
    TrayMenu->addAction(AutostartAction);
    connect(TrayMenu, &QMenu::aboutToShow, AutostartAction, &TkaAutostartAction::Refresh);
}

QList<QIcon> TTarvikClientForm::TrayImages() {
    // Idle, then the arcs light up one by one and fade again.
    struct TFrame {
        int Lit;
        QColor Glow;
    };
    const QColor green(60, 200, 90);
    const QColor amber(255, 176, 32);
    const TFrame frames[TrayFrameCount] = {{0, green}, {1, green}, {2, green}, {3, green},
                                           {3, amber}, {2, amber}, {1, amber}};
    QList<QIcon> icons;
    for (const TFrame& frame : frames) {
        QIcon icon;
        icon.addPixmap(CameraPixmap(16, frame.Lit, frame.Glow));
        icon.addPixmap(CameraPixmap(TrayImageSize, frame.Lit, frame.Glow));
        icons.append(icon);
    }
    return icons;
}

TJPEGImage TTarvikClientForm::StartImage() {
    QImage picture(StartWidth, StartHeight, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, StartHeight);
    sky.setColorAt(0, QColor(28, 44, 72));
    sky.setColorAt(1, QColor(10, 16, 28));
    painter.fillRect(picture.rect(), sky);
    painter.drawPixmap(QRect(StartWidth / 2 - 48, 34, 96, 96),
                       CameraPixmap(96, 3, QColor(60, 200, 90)));
    QFont title = painter.font();
    title.setPixelSize(26);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(230, 238, 250));
    painter.drawText(QRect(0, 140, StartWidth, 34), Qt::AlignCenter,
                     QString::fromLatin1(ProgramName));
    QFont note = title;
    note.setPixelSize(13);
    note.setBold(false);
    painter.setFont(note);
    painter.setPen(QColor(150, 170, 200));
    painter.drawText(QRect(0, 178, StartWidth, 24), Qt::AlignCenter, WaitingMessage().Text());
    painter.end();
    TJPEGImage image;
    image.Assign(picture);
    image.SetQuality(90);
    image.Compress();
    image.FreeBitmap();
    return image;
}

QString TTarvikClientForm::StartFile() {
    return ProgramDir() + QString::fromLatin1(StartFileName);
}

TSetupFrame* TTarvikClientForm::SetupFrame1() const {
    return SetupForm->SetupFrame1;
}

void TTarvikClientForm::SetSoundPlayer(std::unique_ptr<TSoundPlayer> player) {
    FSoundPlayer = std::move(player);
}

// ---- FormCreate ----------------------------------------------------------------------

void TTarvikClientForm::Loaded() {
    CreateIdUDPServer();
    FFirstShow = true;
    TrayIcon = Own(this, new TTrayIcon(this), "TrayIcon");
    TrayIcon->SetIcon(FTrayImages.value(0));
    TrayIcon->SetActive(true);
    TrayIcon->SetPopupMenu(TrayMenu);
    TrayIcon->SetToolTip(QString::fromLatin1(ProgramName));
    connect(TrayIcon, &TTrayIcon::OnDblClick, this, &TTarvikClientForm::TrayIconDblClick);
    FQuitRequested = false;
    Guarded([this] { ReadWindowPlacement(*this); });
    Guarded([this] { BuildLanguageMenu(); });
    FLastImage.Clear();
}

void TTarvikClientForm::CreateIdUDPServer() {
    FIdUDPServer = std::make_unique<TIdUDPServer>();
    FIdUDPServer->SetPort(TIdUDPServer::DefaultPort);
    FIdUDPServer->OnUDPRead = [this](QObject* sender, QIODevice& data) {
        IdUDPServerUDPRead(sender, data);
    };
}

bool TTarvikClientForm::ActivateIdUDPServer() {
    const int port = PortOf(SetupFrame1()->UDPPortkaEdit->text());
    if (FIdUDPServer->Active() && FIdUDPServer->Port() == port)
        return true;
    try {
        FIdUDPServer->SetActive(false);
        FIdUDPServer->SetPort(port);
        FIdUDPServer->SetActive(true);
        return true;
    } catch (const std::exception& error) {
        HandleApplicationError(error);
        return false;
    }
}

// ---- Showing -------------------------------------------------------------------------

void TTarvikClientForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
}

void TTarvikClientForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        TrayTimer->stop();
}

void TTarvikClientForm::FormShow() {
    TrayTimer->stop();
    if (!FFirstShow)
        return;
    // Restored once: a repeated first show must not undo what the setup
    // dialog changed since.
    if (!FRestored) {
        FRestored = true;
        RestoreRemanentControls();
    }
    TSetupFrame* setup = SetupFrame1();
    SetHistoryMax(setup->CacheFrame->TrackBar->Position() - 1);
    TakeDisplaySettings();
    // Without a port there is nothing to wait for; the next show tries again.
    if (!ActivateIdUDPServer())
        return;
    FFirstShow = false;
    if (setup->MinimizekaCheckBox->isChecked())
        QMetaObject::invokeMethod(
            this, [this] { HideToTray(); }, Qt::QueuedConnection);
    // Pictures received meanwhile are newer than the start picture.
    if (FReceived)
        return;
    const QString start = StartFile();
    TkaAtomicFile::RemoveLeftovers(start);
    if (QFileInfo::exists(start)) {
        try {
            FLastImage.LoadFromFile(start);
            // One cut short (by an older version) is replaced, not failed at every start.
            TJPEGImage::CheckData(FLastImage.JpegData());
            return;
        } catch (const std::exception& error) {
            HandleApplicationError(error);
        }
    }
    FLastImage = StartImage();
}

void TTarvikClientForm::TakeDisplaySettings() {
    TSetupFrame* setup = SetupFrame1();
    PopupDelayTimer->setInterval(setup->WaitPopupFrame->TrackBar->Position() * 1000);
    StretchAction->setChecked(setup->StretchkaCheckBox->isChecked());
    ShowToolbarAction->setChecked(setup->ShowToolbarCheckBox->isChecked());
    ToolBarPanel->setVisible(ShowToolbarAction->isChecked());
}

void TTarvikClientForm::RestoreApplication() {
    if (windowState().testFlag(Qt::WindowMinimized))
        setWindowState(windowState() & ~Qt::WindowMinimized);
}

void TTarvikClientForm::ShowActionExecute() {
    if (isVisible())
        RestoreApplication();
    else
        show();
    // Brought up, but the user's typing elsewhere keeps its focus.
    raise();
    TrayTimer->stop();
}

void TTarvikClientForm::PopUp() {
    // Shown for a new picture: the window the user is typing in keeps the focus.
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    ShowAction->trigger();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void TTarvikClientForm::HideActionExecute() {
    RestoreApplication();
    HideToTray();
}

void TTarvikClientForm::HideToTray() {
    if (TrayIcon != nullptr)
        TrayIcon->HideOwner();
    else
        showMinimized();
}

void TTarvikClientForm::TrayIconDblClick() {
    TrayTimer->stop();
}

void TTarvikClientForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isVisible() ||
        !windowState().testFlag(Qt::WindowMinimized))
        return;
    // Minimising hides to the tray, where there is one; otherwise the
    // window stays minimised on the task bar, where it can be found.
    if (TrayIcon != nullptr && TrayIcon->Active() && QSystemTrayIcon::isSystemTrayAvailable())
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
}

bool TTarvikClientForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == kaPanel1 && event->type() == QEvent::Resize)
        PaintBox->Clear();
    return QWidget::eventFilter(watched, event);
}

// ---- Receiving -----------------------------------------------------------------------

void TTarvikClientForm::IdUDPServerUDPRead(QObject* /*sender*/, QIODevice& data) {
    std::unique_ptr<TStmObject> object;
    try {
        object = TStmObject::ReadStmObject(data);
    } catch (const EkaError&) {
        // Not one of our pictures, or a damaged one: dropped like a lost datagram.
        return;
    }
    std::unique_ptr<TStmJPG> picture(dynamic_cast<TStmJPG*>(object.get()));
    if (picture == nullptr)
        return;
    object.release();
    const QByteArray& jpeg = picture->Image().JpegData();
    try {
        // A picture cut short would fail at every paint and, kept as the
        // last one, at every start.
        if (!jpeg.isEmpty())
            TJPEGImage::CheckData(jpeg);
    } catch (const EJPEG&) {
        return;
    }
    TSetupFrame* setup = SetupFrame1();
    const QString source = picture->Source();

    TCamCache* cache = CamCache(source);
    MarkHeard(cache);
    FLastImage = picture->Image();
    FReceived = true;
    cache->Pictures.push_back(std::move(picture));
    const int cacheSize = std::max(1, setup->CacheFrame->TrackBar->Position());
    while (cache->Count() > cacheSize)
        cache->Pictures.pop_front();

    const bool shown = IsShownCamera(cache);
    if (shown)
        SetHistoryMax(cache->Count() - 1);
    if ((shown || setup->AutoSwitchCheckBox->isChecked()) && !PopupDelayTimer->isActive())
        Notify();
    if (!PlayTimer->isActive() && shown)
        kaTrackBar->SetPosition(kaTrackBar->Max());
    if ((CamkaComboBox->currentText().isEmpty() || setup->AutoSwitchCheckBox->isChecked()) &&
        !PlayTimer->isActive() && !shown) {
        CamkaComboBox->setCurrentIndex(CamkaComboBox->findText(source, Qt::MatchFixedString));
        CamkaComboBoxClick();
    }
    // Letter case does not part cameras: a picture of the shown camera is
    // painted whichever case its sender uses.
    if (IsShownCamera(cache))
        PaintBox->update();
    TrayTimer->start();
}

void TTarvikClientForm::Notify() {
    TSetupFrame* setup = SetupFrame1();
    PopupDelayTimer->start();
    if (setup->PopupkaCheckBox->isChecked())
        PopUp();
    if (setup->SoundkaCheckBox->isChecked()) {
        if (FSoundPlayer == nullptr)
            FSoundPlayer = std::make_unique<TQtSoundPlayer>();
        const QString sound = setup->SoundkaEdit->text();
        if (FileExists(sound))
            FSoundPlayer->Play(sound);
        else
            FSoundPlayer->Beep();
    }
}

void TTarvikClientForm::PopupDelayTimerTimer() {
    PopupDelayTimer->stop();
}

bool TTarvikClientForm::IsShownCamera(const TCamCache* cache) const {
    const int index = CamkaComboBox->currentIndex();
    return index >= 0 && ListedCache(index) == cache;
}

TCamCache* TTarvikClientForm::CamCache(const QString& name) {
    if (FListChanged)
        DropUnlistedCaches();
    const int index = ListIndex(name);
    if (index >= 0) {
        if (TCamCache* cache = ListedCache(index))
            return cache;
        // An entry put into the list from outside gets its cache now.
        TCamCache* cache = NewCamCache(name);
        CamkaComboBox->setItemData(index, QVariant::fromValue(quintptr(cache)));
        return cache;
    }
    if (int(FCaches.size()) >= MaxCameras)
        DropOldestCamera();
    TCamCache* cache = NewCamCache(name);
    const bool first = CamkaComboBox->count() == 0;
    // The list is sorted, letter case ignored.
    int low = 0;
    int high = CamkaComboBox->count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (CamkaComboBox->itemText(middle).compare(name, Qt::CaseInsensitive) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    CamkaComboBox->insertItem(low, name, QVariant::fromValue(quintptr(cache)));
    // A new entry is listed, not chosen: the first one would be selected
    // on its own, and its camera taken for the shown one.
    if (first)
        CamkaComboBox->setCurrentIndex(-1);
    return cache;
}

int TTarvikClientForm::ListIndex(const QString& name) const {
    int low = 0;
    int high = CamkaComboBox->count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int order = CamkaComboBox->itemText(middle).compare(name, Qt::CaseInsensitive);
        if (order == 0)
            return middle;
        if (order < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

TCamCache* TTarvikClientForm::NewCamCache(const QString& name) {
    const QString key = name.toCaseFolded();
    if (const auto found = FCaches.find(key); found != FCaches.end())
        DropCamCache(found->second.get());
    auto cache = std::make_unique<TCamCache>();
    cache->Name = name;
    TCamCache* added = cache.get();
    FCaches.emplace(key, std::move(cache));
    MarkHeard(added);
    return added;
}

void TTarvikClientForm::MarkHeard(TCamCache* cache) {
    FCachesByHeard.erase(cache->Heard);
    cache->Heard = ++FHeardClock;
    FCachesByHeard.emplace(cache->Heard, cache);
}

void TTarvikClientForm::DropCamCache(TCamCache* cache) {
    FCachesByHeard.erase(cache->Heard);
    FCaches.erase(cache->Name.toCaseFolded());
}

void TTarvikClientForm::DropOldestCamera() {
    for (const auto& [heard, cache] : FCachesByHeard) {
        if (IsShownCamera(cache))
            continue;
        const int index = ListIndex(cache->Name);
        if (index >= 0 && ListedCache(index) == cache) {
            // Our own removal: nothing else left the list.
            const bool changed = FListChanged;
            CamkaComboBox->removeItem(index);
            FListChanged = changed;
        }
        DropCamCache(cache);
        return;
    }
}

void TTarvikClientForm::DropUnlistedCaches() {
    // Entries replaced from outside (a language import) leave their caches
    // unreachable; they are freed rather than kept until the end.
    FListChanged = false;
    std::vector<TCamCache*> unlisted;
    for (const auto& [key, cache] : FCaches) {
        const int index = ListIndex(cache->Name);
        if (index < 0 || ListedCache(index) != cache.get())
            unlisted.push_back(cache.get());
    }
    for (TCamCache* cache : unlisted)
        DropCamCache(cache);
}

TCamCache* TTarvikClientForm::CurrentCamCache() const {
    const int index = ListIndex(CamkaComboBox->currentText());
    return index >= 0 ? ListedCache(index) : nullptr;
}

TCamCache* TTarvikClientForm::ListedCache(int index) const {
    return reinterpret_cast<TCamCache*>(CamkaComboBox->itemData(index).value<quintptr>());
}

void TTarvikClientForm::SetHistoryMax(int max) {
    // An empty cache leaves the range at 0: a negative Max would drag Min along.
    kaTrackBar->SetMax(std::max(0, max));
}

void TTarvikClientForm::CamkaComboBoxClick() {
    TCamCache* cache = CamCache(CamkaComboBox->currentText());
    SetHistoryMax(cache->Count() - 1);
    kaTrackBar->SetPosition(kaTrackBar->Max());
    PaintBox->Clear();
}

// ---- Painting ------------------------------------------------------------------------

void TTarvikClientForm::PaintBoxPaint(QPainter& painter) {
    TJPEGImage* graphic = &FLastImage;
    if (TCamCache* cache = CurrentCamCache()) {
        const int index = kaTrackBar->Position();
        if (index >= 0 && index < cache->Count()) {
            TStmJPG& entry = *cache->Pictures[size_t(index)];
            graphic = &entry.Image();
            ShowStatus(entry);
        } else {
            StatusPanel->setText(QStringLiteral("-"));
        }
    }
    if (graphic->Empty()) {
        painter.fillRect(PaintBox->rect(), PaintBox->BackgroundColor());
        return;
    }
    try {
        DrawPicture(painter, *graphic);
    } catch (const std::exception& error) {
        painter.fillRect(PaintBox->rect(), PaintBox->BackgroundColor());
        ReportPaintError(*graphic, error);
    }
    graphic->FreeBitmap();
}

void TTarvikClientForm::DrawPicture(QPainter& painter, TJPEGImage& graphic) {
    const QRect area = PaintBox->rect();
    if (SetupFrame1()->StretchkaCheckBox->isChecked()) {
        graphic.StretchDraw(painter, area);
    } else {
        // Integer division truncates toward zero: a larger picture is cut on both sides.
        graphic.Draw(painter, QPoint((area.width() - graphic.Width()) / 2,
                                     (area.height() - graphic.Height()) / 2));
    }
}

void TTarvikClientForm::ReportPaintError(const TJPEGImage& graphic, const std::exception& error) {
    const QByteArray& data = graphic.JpegData();
    // Holding the data keeps their address unique to this picture.
    if (data.constData() == FFailedPaintData.constData())
        return;
    FFailedPaintData = data;
    // Not kept as the picture of the next start.
    if (FLastImage.JpegData().constData() == data.constData())
        FLastImage.Clear();
    // A box opened inside the paint handler would freeze the view behind it.
    if (const auto* decoding = dynamic_cast<const EJPEG*>(&error)) {
        QTimer::singleShot(0, this, [copy = *decoding] { HandleApplicationError(copy); });
        return;
    }
    QTimer::singleShot(0, this, [copy = EkaError(QString::fromLocal8Bit(error.what()))] {
        HandleApplicationError(copy);
    });
}

void TTarvikClientForm::ShowStatus(const TStmJPG& picture) {
    const double time = picture.Time();
    const QString when = std::isfinite(time) && time > MinDateTime && time < MaxDateTime
                             ? QLocale().toString(DateTimeToQDateTime(time), QLocale::ShortFormat)
                             : QStringLiteral("?");
    const TJPEGImage& image = picture.Image();
    StatusPanel->setText(QStringLiteral("%1x%2 [%3] (%4 Byte)")
                             .arg(image.Width())
                             .arg(image.Height())
                             .arg(when)
                             .arg(image.Size()));
}

// ---- Commands ------------------------------------------------------------------------

void TTarvikClientForm::PlayActionExecute() {
    const bool playing = PlayAction->isChecked();
    PlayTimer->setInterval(PlayInterval);
    if (playing) {
        PlayTimer->start();
        kaTrackBar->SetPosition(kaTrackBar->Min());
    } else {
        PlayTimer->stop();
    }
    CamkaComboBox->setEnabled(!playing);
}

void TTarvikClientForm::PlayTimerTimer() {
    const int position = kaTrackBar->Position();
    if (position == kaTrackBar->Max())
        PlayAction->trigger();
    else if (position < kaTrackBar->Max())
        kaTrackBar->SetPosition(position + 1);
}

void TTarvikClientForm::TrayTimerTimer() {
    if (TrayIcon != nullptr)
        TrayIcon->SetIcon(FTrayImages.value(FTrayFrame));
    FTrayFrame = (FTrayFrame + 1) % TrayFrameCount;
}

void TTarvikClientForm::StretchActionExecute() {
    SetupFrame1()->StretchkaCheckBox->setChecked(StretchAction->isChecked());
    PaintBox->Clear();
}

void TTarvikClientForm::ShowToolbarActionExecute() {
    SetupFrame1()->ShowToolbarCheckBox->setChecked(ShowToolbarAction->isChecked());
    ToolBarPanel->setVisible(SetupFrame1()->ShowToolbarCheckBox->isChecked());
}

void TTarvikClientForm::SetupActionExecute() {
    // The tray menu stays reachable while the dialog is open.
    if (FInSetup)
        return;
    FInSetup = true;
    const auto done = qScopeGuard([this] { FInSetup = false; });
    FIdUDPServer.reset();
    ShowModal(*SetupForm);
    CreateIdUDPServer();
    if (!ActivateIdUDPServer())
        return;
    TakeDisplaySettings();
    PaintBox->Clear();
}

// ---- Closing -------------------------------------------------------------------------

void TTarvikClientForm::CloseActionExecute() {
    FQuitRequested = true;
    close();
    // A hidden window may get no close event.
    FormClose();
}

void TTarvikClientForm::closeEvent(QCloseEvent* event) {
    if (!FQuitRequested) {
        // The close box and minimising only send the window to the tray.
        event->ignore();
        HideActionExecute();
        return;
    }
    event->accept();
    FormClose();
}

void TTarvikClientForm::FormClose() {
    if (FClosed)
        return;
    FClosed = true;
    if (FIdUDPServer != nullptr)
        FIdUDPServer->SetActive(false);
    const Qt::WindowStates state = windowState();
    RestoreApplication();
    Guarded([this, state] { SaveWindowPlacement(*this, state); });
    emit Terminated();
}

void TTarvikClientForm::WMQueryEndSession() {
    if (TrayIcon != nullptr) {
        TrayIcon->SetActive(false);
        delete TrayIcon;
        TrayIcon = nullptr;
    }
    FQuitRequested = true;
    close();
    FormClose();
}
