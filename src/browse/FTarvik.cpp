#include "FTarvik.h"

#include "ApplicationErrors.h"
#include "CameraTable.h"
#include "CaptureDialogs.h"
#include "EkaError.h"
#include "FNetworkCameras.h"
#include "FVideoSetup.h"
#include "OffsiteCopyLink.h"
#include "PathTreeNodeObject.h"
#include "ProgramIcons.h"
#include "TkaAutostartAction.h"
#include "TIdSMTP.h"
#include "TkaDialogs.h"
#include "TrayIcon.h"
#include "TreeNodeObject.h"
#include "UnreadablePictures.h"
#include "Videocap.h"
#include "WindowPlacement.h"
#include "frExplorer.h"
#include "frFeedBack.h"
#include "frRoot.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaApplicationEvents.h"
#include "kaGeneral.h"
#include "kaLanguage.h"
#include "kaPageControl.h"
#include "kaPanel.h"
#include "kaSceneFiles.h"
#include "kaTreePanel.h"
#include "kaTreeView.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QSessionManager>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString FormName = QStringLiteral("TarvikForm");
const QString ProgramName = QStringLiteral("Tarvik");
const QString PathSeparator = QStringLiteral("/");
constexpr int TrayImageSize = 32;
constexpr int TreeImageSize = 16;

// ---- Messages ------------------------------------------------------------------

TkaMessage& HelpMessage() {
    static TkaMessage message(QStringLiteral("FTARVIK_MSG_HELP"), QStringLiteral("Help"));
    return message;
}

TkaMessage& DriverMissingMessage() {
    static TkaMessage message(QStringLiteral("FTARVIK_MSG_DRIVERMISSING"),
                              QStringLiteral("Cannot find a valid driver! Please install a webacam "
                                             "first."));
    return message;
}

TkaMessage& ScenesMessage() {
    static TkaMessage message(QStringLiteral("FTARVIK_MSG_SCENES"), QStringLiteral("Scenes"));
    return message;
}

TkaMessage& ToolTipMessage() {
    static TkaMessage message(QStringLiteral("FTARVIK_MSG_MSG_TOOLTIPTEXT"),
                              QStringLiteral("(right mouse button for options)"));
    return message;
}

TkaMessage& NoHelpViewerMessage() {
    static TkaMessage message(QStringLiteral("FTARVIK_MSG_NOHELPVIEWER"),
                              QStringLiteral("No program opens the help document. It is here:"));
    return message;
}

void RegisterMessages() {
    HelpMessage().Handle();
    DriverMissingMessage().Handle();
    ScenesMessage().Handle();
    ToolTipMessage().Handle();
    NoHelpViewerMessage().Handle();
    // Texts of the other units that are built in code, so that the
    // activation of a language covers them before any of them is shown.
    TVideoFrame::RegisterMessages();
    TNetworkCamerasForm::RegisterMessages();
    RegisterCaptureDialogMessages();
    TIdSMTP::RegisterMessages();
    TUnreadablePictures::Message();
}

// xdg-open tells by its exit code whether a program took the document, which
// QDesktopServices does not pass on. It may run on while the browser it
// started is open; it is left running when Tarvik ends.
void OpenWithDesktop(const QUrl& url, const std::function<void()>& failed) {
    auto* opener = new QProcess;
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, failed](int code, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || code != 0)
                             failed();
                         opener->deleteLater();
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         failed();
                         opener->deleteLater();
                     });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start(QStringLiteral("xdg-open"), {url.toString()});
}

// ---- Pictures ------------------------------------------------------------------

// The program's icon, the camera of the package's tarvik.svg.
QPixmap CameraPixmap(int size) {
    return QPixmap::fromImage(RenderSvg(IconSource(QStringLiteral("tarvik")), size));
}

QTreeWidgetItem* Parent(const QTreeWidgetItem* node) {
    return node != nullptr ? node->parent() : nullptr;
}

} // namespace

// ---- Construction ----------------------------------------------------------------

TTarvikForm::TTarvikForm(QWidget* parent) : QWidget(parent) {
    SetOwner(this, nullptr, FormName);
    RegisterMessages();
    OpenDocument = &OpenWithDesktop;
    CreateComponents();
    CreateActions();
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { WMQueryEndSession(); });
    kaLanguageBeforeExport();
    kaLanguage = Own(this, new TkaLanguage(this), "kaLanguage");
    kaLanguage->BeforeExport = [this](QObject*) { kaLanguageBeforeExport(); };
    kaLanguage->AfterImport = [this](QObject*) { kaLanguageAfterImport(); };
}

TTarvikForm::~TTarvikForm() = default;

void TTarvikForm::CreateComponents() {
    setWindowTitle(ProgramName);
    setWindowIcon(TrayImage());
    resize(DefaultSize(font()));
    setMinimumSize(160, 100);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    TopkaPanel = Own(this, new TkaPanel(this), "TopkaPanel");
    TopkaPanel->hide();
    TrayImageLabel = Own(this, new QLabel(TopkaPanel), "TrayImage");
    TrayImageLabel->setPixmap(TrayImage().pixmap(TrayImageSize, TrayImageSize));
    column->addWidget(TopkaPanel);

    DirExplorerFrame = Own(this, new TExplorerFrame(this, this), "DirExplorerFrame");
    DirExplorerFrame->kaTreeView->SetImages(DirImages());
    DirExplorerFrame->OnTreeChange = [this](QTreeWidgetItem* node) {
        DirExplorerFramekaTreeViewChange(node);
    };
    DirExplorerFrame->OnTreeClick = [this](QTreeWidgetItem* node) {
        DirExplorerFramekaTreeViewClick(node);
    };
    column->addWidget(DirExplorerFrame, 1);

    kaApplicationEvents1 = Own(this, new TkaApplicationEvents(this), "kaApplicationEvents1");
    kaApplicationEvents1->SetStartOnce(true);

    FirstPlayTimer = Own(this, new QTimer(this), "FirstPlayTimer");
    FirstPlayTimer->setInterval(FirstPlayDelay);
    FirstPlayTimer->setSingleShot(true);
    connect(FirstPlayTimer, &QTimer::timeout, this, &TTarvikForm::FirstPlayTimerTimer);
}

void TTarvikForm::CreateActions() {
    ActionList = Own(this, new TkaActionList(this), "ActionList");
    ShowAction = Own(this, new TkaAction(ActionList), "ShowAction");
    ShowAction->setText(QStringLiteral("Show"));
    HideAction = Own(this, new TkaAction(ActionList), "HideAction");
    HideAction->setText(QStringLiteral("Hide"));
    CloseAction = Own(this, new TkaAction(ActionList), "CloseAction");
    CloseAction->setText(QStringLiteral("Beenden ..."));
    CloseAction->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    connect(ShowAction, &QAction::triggered, this, &TTarvikForm::ShowActionExecute);
    connect(HideAction, &QAction::triggered, this, &TTarvikForm::HideActionExecute);
    connect(CloseAction, &QAction::triggered, this, &TTarvikForm::CloseActionExecute);

    TrayMenu = Own(this, new QMenu(this), "TrayMenu");
    TrayMenu->addAction(ShowAction);
    TrayMenu->addAction(HideAction);
    AddAutostartAction();
    Own(this, TrayMenu->addSeparator(), "N3");
    LanguageSprache1 =
        Own(this, new QMenu(QStringLiteral("Language / Sprache"), TrayMenu), "LanguageSprache1");
    TrayMenu->addMenu(LanguageSprache1);
    LanguageGroup = new QActionGroup(LanguageSprache1);
    Own(this, TrayMenu->addSeparator(), "N2");
    TrayMenu->addAction(CloseAction);
}

void TTarvikForm::AddAutostartAction() {
    // Back after the login hidden in the tray: no window in the way.
    const TkaAutostart entry(QStringLiteral("tarvik"), ProgramName,
                             QStringLiteral("Motion detection and recording with your cameras"),
                             QStringLiteral("tarvik"));
    AutostartAction =
        Own(this, new TkaAutostartAction(ActionList, entry, {MinimizedSwitch}), "AutostartAction");
    AutostartAction->setText(QStringLiteral("Start with the desktop session"));
    TrayMenu->addAction(AutostartAction);
    connect(TrayMenu, &QMenu::aboutToShow, AutostartAction, &TkaAutostartAction::Refresh);
}

QList<QIcon> TTarvikForm::DirImages() {
    QStyle* look = QApplication::style();
    const auto standard = [look](QStyle::StandardPixmap pixmap) {
        return look->standardIcon(pixmap);
    };
    const QIcon camera(CameraPixmap(TreeImageSize));
    return {
        standard(QStyle::SP_DirClosedIcon),          // 0 folder (root, day)
        standard(QStyle::SP_DirOpenIcon),            // 1 the same, expanded
        standard(QStyle::SP_DirIcon),                // 2
        camera,                                      // 3 camera
        standard(QStyle::SP_DriveHDIcon),            // 4
        standard(QStyle::SP_FileIcon),               // 5 picture file
        standard(QStyle::SP_MediaPlay),              // 6 scene
        standard(QStyle::SP_FileDialogContentsView), // 7 a camera's scenes
        standard(QStyle::SP_FileIcon),               // 8
        standard(QStyle::SP_FileIcon),               // 9
        standard(QStyle::SP_FileIcon),               // 10
        standard(QStyle::SP_FileIcon),               // 11
        standard(QStyle::SP_MessageBoxInformation),  // 12 support
        standard(QStyle::SP_DialogHelpButton),       // 13 help
    };
}

QSize TTarvikForm::DefaultSize(const QFont& font) {
    constexpr double DesignCharWidth = 6.0;
    const double scale = std::max(1.0, QFontMetricsF(font).averageCharWidth() / DesignCharWidth);
    const QSize designed(qRound(InitialWidth * scale), qRound(InitialHeight * scale));
    QSize size = designed.expandedTo(QSize(PictureFitWidth, PictureFitHeight));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    return size.expandedTo(QSize(160, 100));
}

QIcon TTarvikForm::TrayImage() {
    return ProgramIcon(QStringLiteral("tarvik"));
}

TkaTreeView* TTarvikForm::Tree() const {
    return DirExplorerFrame->kaTreeView;
}

// ---- FormCreate ------------------------------------------------------------------------

void TTarvikForm::Loaded() {
    CreateTrayIcon();
    DirExplorerFrame->kaPanel->hide();
    // Each step stands on its own: a camera or folder that fails is reported
    // and every other camera is still set up and started.
    if (!StartStep([this] { AddTopLevelNodes(); })) {
        // Without the first play the page panel would stay hidden for good.
        DirExplorerFrame->kaPanel->show();
        return;
    }
    // The language first: the camera pages and nodes take their texts from
    // the messages as they are made.
    StartStep([this] { BuildLanguageMenu(); });
    StartStep([this] { StartOffsiteCopy(); });
    AddCameras();
    StartStep([this] { ReadWindowPlacement(*this); });
    FirstPlayTimer->start();
}

bool TTarvikForm::StartStep(const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const std::exception& error) {
        // The same cause (a read-only "Cfg", "Scenes" being a file) fails every
        // camera alike: one box says it.
        const QString text = QString::fromUtf8(error.what());
        if (!FStartErrors.contains(text)) {
            FStartErrors.append(text);
            RunHandled([&error] { HandleApplicationError(error); });
        }
        return false;
    }
}

void TTarvikForm::StartOffsiteCopy() {
    OffsiteCopy = new TOffsiteCopyLink(this);
    connect(OffsiteCopy, &TOffsiteCopyLink::FailingChanged, this, &TTarvikForm::UpdateTrayToolTip);
    RootFrame->OnOffsiteCopyChanged = [this] { OffsiteCopy->Reload(); };
    OffsiteCopy->Reload();
}

void TTarvikForm::CreateTrayIcon() {
    TrayIcon = Own(this, new TTrayIcon(this), "TrayIcon");
    TrayIcon->SetIcon(TrayImage());
    TrayIcon->SetPopupMenu(TrayMenu);
    TrayIcon->SetToolTip(ProgramName);
    TrayIcon->SetActive(true);
    FQuitRequested = false;
}

void TTarvikForm::AddTopLevelNodes() {
    RootFrame = CreateLoaded<TRootFrame>(nullptr, DirExplorerFrame->kaPanel);
    RootFrame->hide();
    TkaTreeView* tree = Tree();
    RootNode = tree->AddNode(nullptr, ProgramName, RootFrame, new TTreeNodeObject, -1, RootImage);
    FeedbackFrame = CreateLoaded<TFeedbackFrame>(nullptr, DirExplorerFrame->kaPanel);
    FeedbackFrame->hide();
    SupportNode = tree->AddNode(nullptr, QStringLiteral("Support"), FeedbackFrame,
                                new TTreeNodeObject, -1, SupportImage);
    HelpNode =
        tree->AddNode(nullptr, HelpMessage().Text(), RootFrame, new TTreeNodeObject, -1, HelpImage);
    // Both nodes show the page; it belongs to the root node.
    RootFrame->SetNode(RootNode);
}

void TTarvikForm::AddCameras() {
    bool candidate = true;
    QString description;
    QString version;
    // A camera's settings, scenes and mask follow the camera, not its place.
    TCameraTable cameras(CfgIniFile());
    for (int index = 0; GetDriverDescription(index, description, version); ++index) {
        const int number = cameras.Number(CaptureDriverIdentity(index));
        StartStep([&] { AddCamera(index, number, description, candidate); });
    }
    // A table that cannot be stored costs no camera its recordings.
    StartStep([&cameras] { cameras.Store(); });
    RootNode->setExpanded(true);
}

void TTarvikForm::AddCamera(int driverIndex, int number, const QString& description,
                            bool& candidate) {
    auto* frame = CreateLoaded<TVideoFrame>(nullptr, DirExplorerFrame->kaPanel, number);
    frame->hide();
    FVideoFrames.append(frame);
    connect(frame, &TVideoFrame::TroubleChanged, this, &TTarvikForm::UpdateTrayToolTip);
    QTreeWidgetItem* cameraNode =
        Tree()->AddNode(RootNode, description, frame, new TTreeNodeObject, -1, CameraImage);
    cameraNode->setExpanded(true);
    // This also creates the scene frame, which fails without a "Scenes" folder.
    // A camera without recordings still shows and detects motion.
    StartStep([&] { frame->SetDescription(description); });
    UpdateTrayToolTip();

    if (TVideoCap* cap = frame->VideoCap) {
        try {
            cap->SetDriverIndex(driverIndex);
            frame->DlgFormatAction->setVisible(cap->HasDlgVideoFormat());
            frame->DlgDisplayAction->setVisible(cap->HasDlgVideoDisplay());
            frame->DlgSourceAction->setVisible(cap->HasDlgVideoSource());
            cap->SetDriverOpen(false);
        } catch (const std::exception&) {
            // The camera stays on its page for a start by hand; it is just not
            // started on its own.
            candidate = false;
        }
    }

    if (TSceneFrame* scenes = frame->SceneFrame())
        AddRecordings(cameraNode, scenes, number - 1);

    if (FirstVideoFrame == nullptr && candidate) {
        FirstCameraNode = cameraNode;
        FirstVideoFrame = frame;
        frame->kaPageControl->setCurrentIndex(1);
        candidate = false;
    }
}

void TTarvikForm::AddRecordings(QTreeWidgetItem* cameraNode, TSceneFrame* scenes, int folder) {
    QTreeWidgetItem* scenesNode = AddScenesNode(cameraNode, scenes);
    // Without its folder the camera records nothing until the user chooses
    // another one on its scene page.
    StartStep([&] { SetDefaultSceneDir(scenes, folder); });
    // Pictures written completely but not yet named when the program was killed.
    RecoverPictureTemporaries(scenes->SceneDir());
    connect(scenes, &TSceneFrame::RecordingFailureChanged, this, &TTarvikForm::UpdateTrayToolTip);
    if (OffsiteCopy != nullptr)
        OffsiteCopy->AddSceneFrame(scenes);
    if (CountSubDirectories(scenes->SceneDir()) > 0) {
        scenesNode->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        scenesNode->setExpanded(true);
    }
    scenes->OnNewScene = [this](QObject* sender, const QString& sPath) {
        OnNewScene(sender, sPath);
    };
}

QTreeWidgetItem* TTarvikForm::AddScenesNode(QTreeWidgetItem* cameraNode, TSceneFrame* sceneFrame) {
    const QString caption = ScenesMessage().Text();
    QTreeWidgetItem* node = Tree()->FindChild(cameraNode, caption);
    auto* object = new TPathTreeNodeObject(nullptr, sceneFrame->SceneDir(), nullptr);
    object->SetDeletable(false);
    if (node == nullptr) {
        node = Tree()->AddNode(cameraNode, caption, sceneFrame, object, -1, ScenesImage);
    } else {
        TkaTreeView::SetNodeObject(node, object);
        object->SetPage(sceneFrame);
        TkaTreeView::SetImageIndex(node, ScenesImage);
        TkaTreeView::SetSelectedIndex(node, ScenesImage);
    }
    sceneFrame->SetSceneNode(node);
    sceneFrame->SetSceneDeleter(DirExplorerFrame->SceneDeleter());
    return node;
}

void TTarvikForm::SetDefaultSceneDir(TSceneFrame* sceneFrame, int folder) {
    if (!sceneFrame->SceneDir().isEmpty())
        return;
    // One level at a time: "Scenes" first, then the camera's own folder.
    ProgramSubDir(QStringLiteral("Scenes"));
    sceneFrame->SetSceneDir(
        ProgramSubDir(QStringLiteral("Scenes") + PathSeparator + QString::number(folder)));
}

// ---- First play -----------------------------------------------------------------------

void TTarvikForm::FirstPlayTimerTimer() {
    FirstPlayTimer->stop();
    // Whatever fails on the way, the pages must become visible.
    const auto showPages = qScopeGuard([this] { DirExplorerFrame->kaPanel->show(); });
    TkaTreeView* tree = Tree();
    if (FirstVideoFrame != nullptr) {
        TVideoFrame* frame = FirstVideoFrame;
        frame->VideoSetupActionExecute();
        PlaceSetupWindow(frame->SetupForm());
        tree->setCurrentItem(FirstCameraNode);
        DirExplorerFrame->ShowPage(frame);
        frame->PlayActionExecute();
        FirstVideoFrame = nullptr;
        tree->setFocus();
    } else {
        tree->setCurrentItem(RootNode);
        DirExplorerFrame->ShowPage(RootFrame);
        Dialogs().ShowMessage(DriverMissingMessage().Text());
    }
}

void TTarvikForm::PlaceSetupWindow(QWidget* setup) const {
    // Beside the main window by frame geometry, title bar always on screen.
    if (auto* form = qobject_cast<TVideoSetupForm*>(setup))
        form->PlaceBeside(*this);
}

// ---- New scenes --------------------------------------------------------------------

void TTarvikForm::OnNewScene(QObject* sender, const QString& sPath) {
    auto* frame = qobject_cast<TSceneFrame*>(sender);
    if (frame == nullptr)
        return;
    const int separator = sPath.indexOf(PathSeparator);
    if (separator < 0)
        throw EkaError(QStringLiteral("TTarvikForm.OnNewScene: Wrong Path: ") + sPath);
    const QString dayName = sPath.left(separator);
    const QString sceneName = sPath.mid(separator + 1);
    const QString dayCaption = DirExplorerFrame->DayCaption(dayName);
    const QString sceneCaption = DirExplorerFrame->SceneCaption(sceneName);
    if (dayName.isEmpty())
        throw EkaError(QStringLiteral("sDayPath=''"));

    frame->SweepSmallScenes(sPath);
    if (frame->SceneNode() == nullptr)
        return;
    AddNewScene(frame, sPath, dayCaption, sceneCaption);
}

void TTarvikForm::AddNewScene(TSceneFrame* frame, const QString& sPath, const QString& dayCaption,
                              const QString& sceneCaption) {
    TkaTreeView* tree = Tree();
    QTreeWidgetItem* scenesNode = frame->SceneNode();
    const QString sceneDir = IncludeBackslash(frame->SceneDir());
    if (scenesNode->isExpanded()) {
        QTreeWidgetItem* dayNode = tree->FindChild(scenesNode, dayCaption);
        if (dayNode != nullptr) {
            frame->LimitScenesPerDay(dayNode);
        } else {
            const QString dayPath = sceneDir + sPath.section(PathSeparator, 0, 0);
            dayNode = tree->AddNodeFirst(scenesNode, dayCaption, DirExplorerFrame->ThumbnailPage,
                                         new TPathTreeNodeObject(nullptr, dayPath, nullptr), -1,
                                         RootImage);
        }
        dayNode->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        TPathTreeNodeObject* dayObject = PathNodeObject(dayNode);
        dayObject->SetUnread(true);
        if (dayNode->isExpanded()) {
            const QString scenePath = sceneDir + sPath;
            TTreeNodeFrame* page =
                TExplorerFrame::HasPictures(scenePath) ? DirExplorerFrame->PlayerPage : nullptr;
            auto* sceneObject = new TPathTreeNodeObject(nullptr, scenePath, nullptr);
            QTreeWidgetItem* sceneNode =
                tree->AddNodeFirst(dayNode, sceneCaption, page, sceneObject, -1, SceneImage);
            sceneObject->SetUnread(true);
            sceneNode->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            frame->CheckPreviousScene(sceneNode);
        } else {
            dayObject->UnreadNames().append(sceneCaption);
        }
    } else {
        PathNodeObject(scenesNode)
            ->UnreadNames()
            .append(dayCaption + TkaTreeView::CaptionSeparator + sceneCaption);
    }
    scenesNode->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);

    // A day of this camera on show gets its new scene at once.
    QTreeWidgetItem* selected = tree->currentItem();
    TThumbNailFrame* thumbnails = DirExplorerFrame->ThumbnailPage;
    if (thumbnails != nullptr && selected != nullptr &&
        TkaTreeView::NodePage(selected) == thumbnails &&
        TkaTreeView::NodePage(Parent(selected)) == frame)
        thumbnails->Repaint();

    TkaTreeView::NodeObject(scenesNode)->SetUnread(true);
    tree->viewport()->update();
}

// ---- Languages ---------------------------------------------------------------------------

void TTarvikForm::BuildLanguageMenu() {
    if (CurrentLanguageIndex() != -1)
        ActiveLanguageName = LanguageMenuName(LanguageFiles().at(CurrentLanguageIndex()));
    for (const QString& file : LanguageFiles()) {
        QAction* item = LanguageSprache1->addAction(LanguageMenuName(file));
        item->setCheckable(true);
        LanguageGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { LanguageItemClick(item); });
        // The window comes up all the same, in the texts it has.
        if (item->text() == ActiveLanguageName)
            StartStep([this, item] { LanguageItemClick(item); });
    }
}

void TTarvikForm::LanguageItemClick(QAction* item) {
    item->setChecked(true);
    const QString name = item->text().remove(QLatin1Char('&'));
    SelectLanguageByName(name);
    FTrayToolTip = TRootFrame::ProductTitle() + QStringLiteral("\r\n") + ToolTipMessage().Text();
    UpdateTrayToolTip();
    ActiveLanguageName = name;
    CfgIniFile()->WriteString(QStringLiteral("General"), QStringLiteral("ActiveLanguage"), name);
}

void TTarvikForm::kaLanguageBeforeExport() {
    for (const char* name : {"N2", "N3"}) {
        for (QObject* component : OwnedComponents(this)) {
            if (component->objectName() == QLatin1String(name))
                ExcludeFromLanguage(component);
        }
    }
}

void TTarvikForm::kaLanguageAfterImport() {
    for (const QPointer<TVideoFrame>& frame : FVideoFrames) {
        if (frame && frame->SceneFrame() && frame->SceneFrame()->SceneNode())
            frame->SceneFrame()->SceneNode()->setText(0, ScenesMessage().Text());
    }
    if (HelpNode != nullptr)
        HelpNode->setText(0, HelpMessage().Text());
}

// ---- Tree events ------------------------------------------------------------------------

void TTarvikForm::DirExplorerFramekaTreeViewChange(QTreeWidgetItem* node) {
    DirExplorerFrame->kaTreeViewChange(node);
}

void TTarvikForm::DirExplorerFramekaTreeViewClick(QTreeWidgetItem* node) {
    DirExplorerFrame->kaTreeViewClick(node);
    if (node != nullptr && node == HelpNode && OpenDocument)
        OpenHelp();
}

void TTarvikForm::OpenHelp() {
    const QString fileName = HelpFileName(CurrentLanguageName());
    // Without a browser the user still learns where the guide is.
    const QPointer<TTarvikForm> form(this);
    OpenDocument(QUrl::fromLocalFile(fileName), [form, fileName] {
        if (form)
            Dialogs().ShowMessage(NoHelpViewerMessage().Text() + QStringLiteral("\n") + fileName);
    });
}

QString TTarvikForm::HelpFileName(const QString& languageName) {
    const bool german = languageName.compare(QStringLiteral("german"), Qt::CaseInsensitive) == 0;
    return ResourceDir() +
           (german ? QStringLiteral("Help/doc_g.htm") : QStringLiteral("Help/doc_e.htm"));
}

// ---- Showing and hiding --------------------------------------------------------------

void TTarvikForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TTarvikForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TTarvikForm::FormShow() {
    if (!FShownBefore) {
        FShownBefore = true;
        RestoreRemanentControls();
        return;
    }
    TkaTreeView* tree = Tree();
    if (tree->currentItem() == nullptr)
        tree->setCurrentItem(RootNode);
    DirExplorerFrame->ShowPage(TkaTreeView::NodePage(tree->currentItem()));
}

void TTarvikForm::FormHide() {
    DirExplorerFrame->ShowPage(nullptr);
}

void TTarvikForm::RestoreApplication() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
}

void TTarvikForm::UpdateTrayToolTip() {
    if (TrayIcon == nullptr)
        return;
    QString tip;
    for (const QPointer<TVideoFrame>& frame : FVideoFrames) {
        if (frame == nullptr)
            continue;
        if (frame->NoPictures())
            tip += QStringLiteral("\r\n") + frame->Description() + QStringLiteral(": ") +
                   frame->NoPicturesText();
        const TSceneFrame* scenes = frame->SceneFrame();
        if (scenes == nullptr || !scenes->RecordingFailure().isEmpty())
            tip += QStringLiteral("\r\n") + TSceneFrame::FailureText(frame->Description());
    }
    if (OffsiteCopy != nullptr && !OffsiteCopy->TrayLine().isEmpty())
        tip += QStringLiteral("\r\n") + OffsiteCopy->TrayLine();
    // The tool tip is short: with troubles the name alone leaves room for them.
    if (!tip.isEmpty())
        tip.prepend(ProgramName);
    TrayIcon->SetToolTip(tip.isEmpty() && !FTrayToolTip.isEmpty() ? FTrayToolTip
                         : tip.isEmpty()                          ? ProgramName
                                                                  : tip);
}

void TTarvikForm::ShowActionExecute() {
    if (isVisible())
        RestoreApplication();
    else
        show();
}

void TTarvikForm::HideActionExecute() {
    RestoreApplication();
    if (TrayIcon != nullptr)
        TrayIcon->HideOwner();
    else
        hide();
}

// ---- Closing ---------------------------------------------------------------------------

void TTarvikForm::CloseActionExecute() {
    FQuitRequested = true;
    close();
}

void TTarvikForm::closeEvent(QCloseEvent* event) {
    if (FEndingSession) {
        // The end of the session ran the close query already.
        event->accept();
        FormClose();
        return;
    }
    if (!FQuitRequested) {
        // The close box only puts the window into the notification area.
        event->ignore();
        HideActionExecute();
        return;
    }
    if (!FormCloseQuery()) {
        // Cancelled: the close box hides to the tray again, as before "Beenden ...".
        FQuitRequested = false;
        event->ignore();
        return;
    }
    event->accept();
    FormClose();
}

bool TTarvikForm::FormCloseQuery() {
    emit CloseQueryRun();
    // Each question runs a dialog while the cameras go on: the page is looked
    // up again by its place in the list after every one.
    bool canClose = true;
    for (qsizetype i = 0; canClose && i < FVideoFrames.size(); ++i) {
        if (const QPointer<TVideoFrame> frame = FVideoFrames.at(i))
            frame->QueryMaskSave(canClose);
    }
    if (!canClose)
        return false;
    for (const QPointer<TVideoFrame>& frame : FVideoFrames) {
        // One camera that cannot stop must not keep the others running.
        if (frame != nullptr)
            RunHandled([&frame] { frame->StopActionExecute(); });
    }
    return true;
}

void TTarvikForm::FormClose() {
    if (FClosed)
        return;
    FClosed = true;
    const Qt::WindowStates state = windowState();
    RestoreApplication();
    // A placement that cannot be stored (a read-only or full "Cfg") is
    // reported; the program ends all the same.
    RunHandled([this, state] { SaveWindowPlacement(*this, state); });
    emit Terminated();
}

void TTarvikForm::EndUnattended() {
    for (const QPointer<TVideoFrame>& frame : FVideoFrames) {
        if (frame != nullptr)
            frame->SaveMaskUnasked();
    }
    WMQueryEndSession();
}

void TTarvikForm::WMQueryEndSession() {
    if (TrayIcon != nullptr) {
        TrayIcon->SetActive(false);
        delete TrayIcon;
        TrayIcon = nullptr;
    }
    if (FEndingSession || FClosed)
        return;
    FQuitRequested = true;
    // The session ends whatever the answer: the query runs once, here, and
    // the close that follows does not ask again.
    FormCloseQuery();
    FEndingSession = true;
    close();
    // A window that was never shown may get no close event.
    FormClose();
}
