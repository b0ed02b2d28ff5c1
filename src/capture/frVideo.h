#pragma once

#include "TJPEGImage.h"
#include "TreeNodeFrame.h"
#include "Videocap.h"
#include "frScene.h"
#include "kaFramePipeline.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <array>
#include <exception>
#include <limits>
#include <memory>

class QLabel;
class QMouseEvent;
class QPainter;
class QStatusBar;
class QTimer;
class QToolBar;
class TIdUDPClient;
class TkaAction;
class TkaActionList;
class TkaEdit;
class TkaLabel;
class TkaPageControl;
class TkaPanel;
class TkaPictureAnalyser;
class TPaintBox;
class TVideoSetupForm;

// One camera page: it grabs a frame at every tick of its capture timer, hands
// it to its frame pipeline (which decides on motion, compresses motion frames
// to JPEG, has them stored and optionally broadcasts them) and shows the result.
// What the error log is told when a capturing camera stops delivering.
class ENoPictures : public EkaError {
public:
    using EkaError::EkaError;
};

class TVideoFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    static constexpr int StatusPanelCount = 7;
    // A capturing camera without a new picture for this long is shown as silent.
    static constexpr int NoPictureSeconds = 5;
    static constexpr int PictureWatchInterval = 1000; // ms
    static constexpr int MaskWidth = TkaFramePipeline::MaskWidth;
    static constexpr int MaskHeight = TkaFramePipeline::MaskHeight;
    // Designed geometry of the two time labels.
    static constexpr int LastUpdateLabelWidth = 175;
    static constexpr int LastMotionLabelLeft = 194;
    static constexpr int LastMotionLabelWidth = 191;

    // Number is the N of the page's name "VideoFrameN", under which its
    // settings are kept; 0 takes the next of a running count.
    explicit TVideoFrame(QObject* owner, QWidget* parent = nullptr, int number = 0);
    ~TVideoFrame() override;

    void Loaded() override;
    int Number() const { return FNumber; }
    // The broadcast name a camera starts with: "MyCam", then "MyCam2", ...,
    // so no two cameras merge in the viewer.
    static QString DefaultSourceName(int number);
    // The setup dialog follows the page: hidden with it, shown again with it.
    void setVisible(bool visible) override;

    // The page's messages, registered before the first language activation.
    static void RegisterMessages();

    const QString& Description() const { return FDescription; }
    // The first description also creates the page's scene settings frame.
    void SetDescription(const QString& value);
    // The recording settings of this camera, created by SetDescription and
    // parented next to the page; the page does not free it (its tree node does).
    TSceneFrame* SceneFrame() const { return FSceneFrame; }
    const QString& MaskFileName() const { return FMaskFileName; }
    int LineWidth() const { return FLineWidth; }
    // The mask was painted or cleared since it was last loaded or saved.
    bool MaskModified() const { return FMaskModified; }

    // Remembers FileName as this page's mask file (also when it names no
    // file) and loads the mask from it when it exists. Errors propagate; the
    // mask then stays as it was.
    void LoadMask(const QString& fileName);
    // Writes the mask to FileName and reads it back from there. An error is
    // shown to the user; the answer says whether the mask was saved.
    bool SaveMask(const QString& fileName);
    // Before the program ends: asks to save a modified mask. Cancel, or a
    // save that failed, sets CanClose to false.
    void QueryMaskSave(bool& canClose);
    // When nobody can be asked (the program is ended by a signal): a modified
    // mask goes to its file, or without one to Mask/unsaved-<number>.msk; the
    // error log says where, or why it failed. Never raises, never asks.
    void SaveMaskUnasked();

    const QImage& DisplayBitmap() const { return FPipeline->DisplayBitmap(); }
    const QImage& AnalysisBitmap() const { return FPipeline->AnalysisBitmap(); }
    const QImage& MaskBitmap() const { return FPipeline->MaskBitmap(); }
    // Replaces the detection mask (mask editor, mask files).
    void SetMaskBitmap(const QImage& mask) { FPipeline->SetMaskBitmap(mask); }
    const TJPEGImage& Jpeg() const { return FPipeline->Jpeg(); }
    // The frame's steps without widgets; the page shows what it reports.
    TkaFramePipeline& Pipeline() const { return *FPipeline; }

    bool Motion() const { return FMotion; }
    void SetMotion(bool value);
    int CountMove() const { return FCountMove; }
    void SetCountMove(int value);
    double LastFrameTime() const { return FLastFrameTime; }
    void SetLastFrameTime(double value);
    double LastMotionTime() const { return FLastMotionTime; }
    void SetLastMotionTime(double value);
    bool SetupWasVisible() const { return FSetupWasVisible; }

    // Text of a status panel (panel 0, the lamp, has none).
    QString PanelText(int index) const;
    // Shows in red in the status bar why motion pictures are not stored; an
    // empty Failure takes the text away. Driven by the scene frame.
    void ShowRecordingFailure(const QString& failure);
    QLabel* RecordingFailureLabel() const { return FRecordingFailureLabel; }
    // Why nothing is recorded when the page has no scene frame, or empty.
    const QString& SceneFrameFailure() const { return FSceneFrameFailure; }

    // While capturing: when no picture came for NoPictureSeconds, the page
    // shows since when in red, the lamp goes grey and the error log gets one
    // row; the next picture ends it. Runs every PictureWatchInterval and
    // after every grab.
    void CheckPictures();
    // Whether the capturing camera has been silent for too long.
    bool NoPictures() const { return FNoPicturesSince != 0; }
    // The text the page shows for the silence, or empty.
    QString NoPicturesText() const;

    // Event handlers. The action handlers raise their errors; the toolbar
    // hands them to the application's error handling.
    void PlayActionExecute();
    void StopActionExecute();
    void DlgFormatActionExecute();
    void DlgSourceActionExecute();
    void DlgDisplayActionExecute();
    void VideoSetupActionExecute();
    void Pen1ActionExecute();
    void Rubber1ActionExecute();
    // Line1Action ... Line4Action: 3, 5, 10 or 20 pixels.
    void LineActionExecute(TkaAction* action);
    void MaskLoadActionExecute();
    void MaskSaveActionExecute();
    void MaskClearActionExecute();
    void MaskPaintBoxMouseDown(const QMouseEvent& event);
    void MaskPaintBoxMouseMove(const QMouseEvent& event);
    void MaskPaintBoxMouseUp(const QMouseEvent& event);
    void CaptureTimerTimer();
    void VideoCapFrameCallback(QObject* sender, PVIDEOHDR lpVhdr);
    void kaPictureAnalyserThresholdMaxSegment(TkaPictureAnalyser* sender, double value,
                                              bool& isMotion);
    void ActionList1Update();
    void kaLanguage1BeforeExport();
    void PaintBoxPaint(QPainter& canvas);
    void JPegPaintBoxPaint(QPainter& canvas);
    void MaskPaintBoxPaint(QPainter& canvas);
    void StatusBarDrawPanel(QPainter& canvas, const QRect& rect);

    TkaPanel* kaPanel = nullptr;
    QToolBar* ToolBar1 = nullptr;
    TkaEdit* SourcekaEdit = nullptr;
    TkaEdit* UDPPortkaEdit = nullptr;
    TkaLabel* DescriptionkaLabel = nullptr;
    TkaLabel* LastUpdatekaLabel = nullptr;
    TkaLabel* LastMotionkaLabel = nullptr;
    TVideoCap* VideoCap = nullptr;
    TkaPageControl* kaPageControl = nullptr;
    QWidget* VideoTabSheet = nullptr;
    QWidget* MaskTabSheet = nullptr;
    QWidget* JPegTabSheet = nullptr;
    TkaPanel* BkgkaPanel = nullptr;
    TPaintBox* PaintBox = nullptr;
    QToolBar* MaskToolBar = nullptr;
    TkaPanel* MaskkaPanel = nullptr;
    TPaintBox* MaskPaintBox = nullptr;
    TkaPanel* JPEGBkgkaPanel = nullptr;
    TPaintBox* JPegPaintBox = nullptr;
    QStatusBar* StatusBar = nullptr;
    TkaActionList* ActionList1 = nullptr;
    TkaAction* PublishAction = nullptr;
    TkaAction* PlayAction = nullptr;
    TkaAction* StopAction = nullptr;
    TkaAction* StretchAction = nullptr;
    TkaAction* DlgSourceAction = nullptr;
    TkaAction* DlgFormatAction = nullptr;
    TkaAction* DlgDisplayAction = nullptr;
    TkaAction* VideoSetupAction = nullptr;
    TkaAction* BroadcastAction = nullptr;
    TkaAction* MaskPictureAction = nullptr;
    TkaAction* Pen1Action = nullptr;
    TkaAction* Rubber1Action = nullptr;
    TkaAction* Line1Action = nullptr;
    TkaAction* Line2Action = nullptr;
    TkaAction* Line3Action = nullptr;
    TkaAction* Line4Action = nullptr;
    TkaAction* MaskLoadAction = nullptr;
    TkaAction* MaskSaveAction = nullptr;
    TkaAction* MaskClearAction = nullptr;
    QTimer* CaptureTimer = nullptr;
    TkaPictureAnalyser* kaPictureAnalyser = nullptr;
    TIdUDPClient* IdUDPClient = nullptr;

    // Created with the page and freed with it.
    TVideoSetupForm* SetupForm() const { return FSetupForm.get(); }

signals:
    // Recording failure, the scene frame or the silence of the camera changed.
    void TroubleChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateComponents();
    void CreateToolBar();
    void CreatePages();
    void CreateStatusBar();
    void CreateActions();
    void CreateMaskActions();
    void CreateMaskToolBar();
    // The save dialog, then SaveMask; false only when a chosen file failed.
    bool SaveMaskAs();
    TkaAction* NewAction(const QString& name, const QString& caption, const QString& hint);
    void ConnectActions();
    void ConnectPipeline();
    TFrameSettings FrameSettings() const;
    void CreateSceneFrame();
    void OpenDriver();
    void CloseDriver();
    // A driver that answered later: a failed start stops the page and is
    // reported as a failed start would have been.
    void DriverConnected(std::exception_ptr failure);
    // After a failed grab: closes and opens the driver again. A camera that
    // stays away fails every tick; only the first failure is raised.
    void Reconnect();
    void PictureArrived();
    void EndNoPictures();
    void ShowTrouble();
    // The disk-space guard, then the scene frame stores the picture.
    void StoreMotionPicture();
    void ShowMotionPicture();
    void FitTimeLabels();
    void ShowAnalysisFigures();
    void RescaleMask(int oldWidth, int oldHeight, int newWidth, int newHeight);
    void RepaintPictures();
    void SetPanelText(int index, const QString& text);
    void TakeBroadcastPort();
    // A source name and a port number to send to.
    bool BroadcastPossible() const;
    bool SourceKeyAccepted(const QKeyEvent& key) const;
    bool PortKeyAccepted(const QKeyEvent& key) const;

    int FNumber = 0;
    bool FNumberGiven = false;
    QString FDescription;
    QPointer<TSceneFrame> FSceneFrame;
    QString FMaskFileName;
    QString FMaskDirectory;
    int FLineWidth = 10;
    bool FMaskModified = false;
    // A stroke runs from a press on the mask box to the release.
    bool FMaskCapture = false;
    QPoint FMaskPenPosition;
    // Strokes since the latest frame, drawn over the analysis picture.
    QImage FStrokeOverlay;
    std::unique_ptr<TkaFramePipeline> FPipeline;
    bool FMotion = false;
    int FCountMove = 0;
    double FLastFrameTime = 0;
    double FLastMotionTime = 0;
    // The seconds the two time labels show, so a frame within the same
    // second leaves them alone.
    qint64 FLastFrameSecond = std::numeric_limits<qint64>::min();
    qint64 FLastMotionSecond = std::numeric_limits<qint64>::min();
    bool FSetupWasVisible = false;
    TPaintBox* MotionLamp = nullptr;
    std::array<QLabel*, StatusPanelCount> Panels{};
    QLabel* FRecordingFailureLabel = nullptr;
    QString FRecordingFailure;
    QString FSceneFrameFailure;
    // When the latest picture came (or capture began); 0 while idle.
    double FPictureSince = 0;
    // Since when the camera is silent; 0 while pictures come.
    double FNoPicturesSince = 0;
    bool FReconnectFailing = false;
    // The start by Play waits for the camera's first answer.
    bool FStartConnecting = false;
    QTimer* PictureWatchTimer = nullptr;
    std::unique_ptr<TVideoSetupForm> FSetupForm;
};
