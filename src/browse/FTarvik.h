#pragma once

#include "kaComponent.h"

#include <QFont>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QAction;
class QActionGroup;
class QMenu;
class TkaLanguage;
class QTimer;
class QTreeWidgetItem;
class TExplorerFrame;
class TFeedbackFrame;
class TkaAction;
class TkaAutostartAction;
class TkaActionList;
class TkaApplicationEvents;
class TkaPanel;
class TkaTreeView;
class TOffsiteCopyLink;
class TRootFrame;
class TSceneFrame;
class TTrayIcon;
class TVideoFrame;

// The main window of Tarvik: the explorer with one camera page per capture
// driver, the tray icon, and the handler that puts every new scene into the
// tree. Closing the window only hides it; "Beenden ..." or the end of the
// session ends the program.
class TTarvikForm : public QWidget, public TkaLoadable {
    Q_OBJECT

public:
    static constexpr int InitialWidth = 630;
    static constexpr int InitialHeight = 496;
    // Room for the tree beside a whole 640 x 480 camera picture with the page's
    // toolbar, tabs and status bar: the designed size cuts the picture off.
    static constexpr int PictureFitWidth = 960;
    static constexpr int PictureFitHeight = 660;
    static constexpr int FirstPlayDelay = 100; // ms
    // Image indexes of the tree's images.
    static constexpr int RootImage = 0;
    static constexpr int CameraImage = 3;
    static constexpr int SceneImage = 6;
    static constexpr int ScenesImage = 7;
    static constexpr int SupportImage = 12;
    static constexpr int HelpImage = 13;
    static constexpr int TreeImageCount = 14;

    explicit TTarvikForm(QWidget* parent = nullptr);
    ~TTarvikForm() override;

    // FormCreate: runs once the form's components have loaded.
    void Loaded() override;

    // The tree's images, 16 by 16, indexed as the tree nodes expect.
    static QList<QIcon> DirImages();
    // The designed 630 by 496, grown with the font: the design's sizes are
    // those of an 8 point font of 6 pixels a character.
    static QSize DefaultSize(const QFont& font);
    // The 32 by 32 picture of the tray icon and the window.
    static QIcon TrayImage();

    // A scene began in a camera's recordings: retention rules, then the day
    // and scene nodes. sPath is "yyyymmdd/hhnnsszzz" below the scene directory.
    void OnNewScene(QObject* sender, const QString& sPath);

    void FirstPlayTimerTimer();
    void ShowActionExecute();
    void HideActionExecute();
    void CloseActionExecute();
    // The end of the desktop session (and SIGTERM, SIGINT): stops the
    // cameras, stores the placement and closes the window for good.
    void WMQueryEndSession();
    // SIGTERM: the end of the session without a question; modified masks
    // are saved where they can be.
    void EndUnattended();
    void DirExplorerFramekaTreeViewChange(QTreeWidgetItem* node);
    void DirExplorerFramekaTreeViewClick(QTreeWidgetItem* node);
    // Activates the item's language, stores it and renews the tray tool tip.
    void LanguageItemClick(QAction* item);
    void kaLanguageBeforeExport();
    void kaLanguageAfterImport();

    // The help document for the active language, in the read-only data.
    static QString HelpFileName(const QString& languageName);
    // The help document of the language; a box names its path when no
    // program opens it.
    void OpenHelp();
    // Opens a document with the desktop's handler; Failed runs, at once or
    // later, when no program took it. Tests replace it.
    std::function<void(const QUrl& url, const std::function<void()>& failed)> OpenDocument;

    bool QuitRequested() const { return FQuitRequested; }
    // The camera pages in driver order; not owned (their tree nodes free them).
    const QList<QPointer<TVideoFrame>>& VideoFrames() const { return FVideoFrames; }
    TkaTreeView* Tree() const;

    TkaPanel* TopkaPanel = nullptr;
    QLabel* TrayImageLabel = nullptr;
    TExplorerFrame* DirExplorerFrame = nullptr;
    TkaApplicationEvents* kaApplicationEvents1 = nullptr;
    QMenu* TrayMenu = nullptr;
    QMenu* LanguageSprache1 = nullptr;
    QActionGroup* LanguageGroup = nullptr;
    TkaLanguage* kaLanguage = nullptr;
    // Upper-case name of the active language.
    QString ActiveLanguageName;
    TkaActionList* ActionList = nullptr;
    TkaAction* CloseAction = nullptr;
    TkaAction* ShowAction = nullptr;
    TkaAction* HideAction = nullptr;
    // "Start with the desktop session": the autostart entry runs the program
    // with MinimizedSwitch.
    TkaAutostartAction* AutostartAction = nullptr;
    static inline const QString MinimizedSwitch = QStringLiteral("/Minimized");
    QTimer* FirstPlayTimer = nullptr;

    TTrayIcon* TrayIcon = nullptr;
    // Copies every stored picture off-site; made as the form loads.
    TOffsiteCopyLink* OffsiteCopy = nullptr;
    TRootFrame* RootFrame = nullptr;
    QTreeWidgetItem* RootNode = nullptr;
    TFeedbackFrame* FeedbackFrame = nullptr;
    QTreeWidgetItem* SupportNode = nullptr;
    QTreeWidgetItem* HelpNode = nullptr;
    QTreeWidgetItem* FirstCameraNode = nullptr;
    QPointer<TVideoFrame> FirstVideoFrame;

signals:
    // The window closed for good; the program's message loop should end.
    void Terminated();
    // The close query ran: the cameras were asked and stopped.
    void CloseQueryRun();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateComponents();
    void CreateActions();
    void CreateTrayIcon();
    void AddAutostartAction();
    void StartOffsiteCopy();
    void AddTopLevelNodes();
    void AddCameras();
    // Number is the camera's own settings number (section "Cameras").
    void AddCamera(int driverIndex, int number, const QString& description, bool& candidate);
    // The camera's scenes node, its folder (Scenes/Folder by default) and its new scenes.
    void AddRecordings(QTreeWidgetItem* cameraNode, TSceneFrame* scenes, int folder);
    QTreeWidgetItem* AddScenesNode(QTreeWidgetItem* cameraNode, TSceneFrame* sceneFrame);
    // Scenes/Folder below the program folder for a camera without a stored folder.
    void SetDefaultSceneDir(TSceneFrame* sceneFrame, int folder);
    // Runs one step of FormCreate; an error is reported (each message once per
    // start) and false returned, so the start-up goes on.
    bool StartStep(const std::function<void()>& step);
    void BuildLanguageMenu();
    void PlaceSetupWindow(QWidget* setup) const;
    void AddNewScene(TSceneFrame* frame, const QString& sPath, const QString& dayCaption,
                     const QString& sceneCaption);
    void FormShow();
    void FormHide();
    bool FormCloseQuery();
    void FormClose();
    void RestoreApplication();
    // The program's name, and which cameras fail to record.
    void UpdateTrayToolTip();

    QList<QPointer<TVideoFrame>> FVideoFrames;
    bool FQuitRequested = false;
    bool FShownBefore = false;
    bool FClosed = false;
    bool FEndingSession = false;
    QStringList FStartErrors;
    // The tool tip's first lines; the cameras' troubles follow.
    QString FTrayToolTip;
};
