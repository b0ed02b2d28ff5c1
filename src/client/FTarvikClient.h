#pragma once

#include "TJPEGImage.h"
#include "kaComponent.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QDialog;
class QIODevice;
class QLabel;
class QMenu;
class QStatusBar;
class QTimer;
class QToolBar;
class QAction;
class TkaLanguage;
class TClientPaintBox;
class TIdUDPServer;
class TkaAction;
class TkaActionList;
class TkaAutostartAction;
class TkaApplicationEvents;
class TkaComboBox;
class TkaPanel;
class TkaTrackBar;
class TSetupForm;
class TSetupFrame;
class TSoundPlayer;
class TStmJPG;
class TTrayIcon;

// The pictures received from one camera, oldest first.
struct TCamCache {
    std::deque<std::unique_ptr<TStmJPG>> Pictures;
    // The name as first heard, and when it was heard last (a datagram count).
    QString Name;
    quint64 Heard = 0;
    int Count() const { return int(Pictures.size()); }
};

// The window of TarvikClient: it listens for the pictures that Tarvik
// broadcasts, keeps the newest of every camera, shows those of the chosen
// camera and draws the user's attention to new ones. Closing or minimising
// only hides it; Exit or the end of the session ends the program.
class TTarvikClientForm : public QWidget, public TkaLoadable {
    Q_OBJECT
public:
    static constexpr int DesignedWidth = 384;
    static constexpr int DesignedHeight = 326;
    static constexpr int DefaultPopupDelay = 45000; // ms, replaced at the first show
    static constexpr int TrayInterval = 100;        // ms
    static constexpr int PlayInterval = 200;        // ms
    static constexpr int TrayFrameCount = 7;
    static inline const char* const ProgramName = "Tarvik Client";
    static inline const char* const StartFileName = "Start.Jpg";
    // Cameras kept at most: a stranger's flood of names cannot starve the
    // real cameras or fill the memory.
    static constexpr int MaxCameras = 64;

    explicit TTarvikClientForm(QWidget* parent = nullptr);
    ~TTarvikClientForm() override;

    // FormCreate.
    void Loaded() override;

    // One received datagram, as a stream positioned at its first byte.
    void IdUDPServerUDPRead(QObject* sender, QIODevice& data);
    // The cache of camera Name (letter case ignored), created with an entry
    // in the camera list when there is none yet.
    TCamCache* CamCache(const QString& name);
    // The cache of the camera named by the camera list's text, or null.
    TCamCache* CurrentCamCache() const;

    void CamkaComboBoxClick();
    void PaintBoxPaint(QPainter& painter);
    void PlayActionExecute();
    void PlayTimerTimer();
    void TrayTimerTimer();
    void PopupDelayTimerTimer();
    void StretchActionExecute();
    void ShowToolbarActionExecute();
    void ShowActionExecute();
    void HideActionExecute();
    void SetupActionExecute();
    void CloseActionExecute();
    void TrayIconDblClick();
    // The end of the desktop session (and SIGTERM, SIGINT).
    void WMQueryEndSession();

    // Whether the first show's sequence is still to run.
    bool FirstShow() const { return FFirstShow; }
    bool QuitRequested() const { return FQuitRequested; }
    int TrayFrame() const { return FTrayFrame; }
    const TJPEGImage& LastImage() const { return FLastImage; }
    TIdUDPServer* IdUDPServer() const { return FIdUDPServer.get(); }
    TSetupFrame* SetupFrame1() const;

    // The seven frames of the tray animation; the first is the idle icon.
    static QList<QIcon> TrayImages();
    // The picture shown before any was received and no Start.Jpg exists.
    static TJPEGImage StartImage();
    static QString StartFile();

    // Test seams: the sound player (Qt Multimedia by default) and the modal
    // showing of the setup dialog.
    void SetSoundPlayer(std::unique_ptr<TSoundPlayer> player);
    std::function<void(QDialog& dialog)> ShowModal;

    TkaPanel* ToolBarPanel = nullptr;
    QToolBar* ToolBar = nullptr;
    TkaComboBox* CamkaComboBox = nullptr;
    TkaTrackBar* kaTrackBar = nullptr;
    TkaPanel* kaPanel1 = nullptr;
    TClientPaintBox* PaintBox = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel = nullptr;
    QMenu* TrayMenu = nullptr;
    QMenu* LanguageSprache1 = nullptr;
    TkaLanguage* kaLanguage1 = nullptr;
    QString ActiveLanguageName;
    // Activates the item's language, stores it and renews the tray tool tip.
    void LanguageItemClick(QAction* item);
    void kaLanguage1BeforeExport();
    TkaActionList* ActionList = nullptr;
    TkaAction* CloseAction = nullptr;
    TkaAction* ShowAction = nullptr;
    TkaAction* HideAction = nullptr;
    // "Start with the desktop session".
    TkaAutostartAction* AutostartAction = nullptr;
    TkaAction* SetupAction = nullptr;
    TkaAction* StretchAction = nullptr;
    TkaAction* ShowToolbarAction = nullptr;
    TkaAction* PlayAction = nullptr;
    QTimer* PopupDelayTimer = nullptr;
    QTimer* TrayTimer = nullptr;
    QTimer* PlayTimer = nullptr;
    TkaApplicationEvents* kaApplicationEvents1 = nullptr;
    TTrayIcon* TrayIcon = nullptr;
    TSetupForm* SetupForm = nullptr;

signals:
    // The window closed for good; the program's message loop should end.
    void Terminated();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateComponents();
    void CreateActions();
    void CreateToolBar();
    void BuildLanguageMenu();
    void CreateTrayMenu();
    void AddAutostartAction();
    TkaAction* NewAction(const char* name, const QString& caption, const QString& hint,
                         const QIcon& icon, void (TTarvikClientForm::*handler)());
    void CreateIdUDPServer();
    // Sets the port from the port edit and activates; false after reporting a failure.
    bool ActivateIdUDPServer();
    void FormShow();
    void FormClose();
    void TakeDisplaySettings();
    void Notify();
    // Shows the window for a new picture without taking the focus.
    void PopUp();
    bool IsShownCamera(const TCamCache* cache) const;
    TCamCache* ListedCache(int index) const;
    void SetHistoryMax(int max);
    void ShowStatus(const TStmJPG& picture);
    void DrawPicture(QPainter& painter, TJPEGImage& graphic);
    void RestoreApplication();
    void HideToTray();
    void DropUnlistedCaches();
    // The list entry of camera Name (letter case ignored), or -1: the list is sorted.
    int ListIndex(const QString& name) const;
    TCamCache* NewCamCache(const QString& name);
    void DropCamCache(TCamCache* cache);
    // Makes room for one more camera by dropping the one heard from longest ago that is not shown.
    void DropOldestCamera();
    void MarkHeard(TCamCache* cache);
    // A picture that failed to paint is reported from the event loop, once.
    void ReportPaintError(const TJPEGImage& graphic, const std::exception& error);

    std::unique_ptr<TIdUDPServer> FIdUDPServer;
    std::unique_ptr<TSoundPlayer> FSoundPlayer;
    // The caches by case-folded name, and by the time each was heard last.
    std::map<QString, std::unique_ptr<TCamCache>> FCaches;
    std::map<quint64, TCamCache*> FCachesByHeard;
    quint64 FHeardClock = 0;
    // Set when entries went from the list from outside (a language import).
    bool FListChanged = false;
    TJPEGImage FLastImage;
    QList<QIcon> FTrayImages;
    // The JPEG data of the last picture whose painting failed; held so that
    // its failure is reported once, not at every paint.
    QByteArray FFailedPaintData;
    bool FFirstShow = true;
    bool FRestored = false;
    bool FReceived = false;
    bool FQuitRequested = false;
    bool FClosed = false;
    bool FInSetup = false;
    int FTrayFrame = 0;
};
