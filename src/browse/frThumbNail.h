#pragma once

#include "FileStamp.h"
#include "TreeNodeFrame.h"
#include "WorkerResults.h"

#include <QHash>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QScrollArea;
class QTimer;
class QTreeWidgetItem;
class TkaLabel;
class TkaPanel;
class TkaTrackbarFrame;
class TPaintBox;
class TThumbnailLoader;
class TUnreadablePictures;

// One thumbnail: a scene of the day shown by its first picture.
class TThumb {
public:
    // Where the picture is drawn, in paint box pixels.
    QRect Rect;
    // Full path of the scene's first picture.
    QString FileName;
    // The scene's start time from its directory name; invalid when the name
    // gives none.
    QTime Time;
    // What is written under the picture: the time, or the directory's name
    // when it gives no valid time.
    QString Caption;
};

// The page of a day: one thumbnail per scene, newest top left, each showing
// the scene's first picture and start time. The thumbnail under the mouse
// plays its scene; a double click opens the scene in the player.
class TThumbNailFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    explicit TThumbNailFrame(QObject* owner = nullptr, QWidget* parent = nullptr);
    ~TThumbNailFrame() override;

    // The day directory shown; a different one repaints.
    const QString& Path() const { return FPath; }
    void SetPath(const QString& value);
    // Draws the day afresh (a new scene was recorded). The scene under the
    // mouse keeps its row on the screen: the page scrolls by as much as the
    // new thumbnails move it.
    void Repaint();
    // The explorer's node of a path, asked whenever the page needs its day's
    // node: the node it was last shown for may be gone.
    std::function<QTreeWidgetItem*(const QString& path)> NodeOfPath;

    // The pattern of the times under the pictures, "hh:mm:ss" in the user's
    // separator by default.
    void SetTimeFormat(const QString& format) { FTimeFormat = format; }
    // Shares the registry of unreadable pictures with the other pages.
    void SetUnreadablePictures(std::shared_ptr<TUnreadablePictures> registry);

    int ThumbWidth() const { return FThumbWidth; }
    int ThumbHeight() const { return FThumbHeight; }
    // The thumbnails of the last paint, in sorted (oldest first) order, and
    // the keys (scene directories) they are listed under.
    const std::vector<TThumb>& Thumbs() const { return FThumbs; }
    const QStringList& ThumbKeys() const { return FKeys; }
    // The thumbnail under the mouse (index into Thumbs, -1: none).
    int HotThumb() const { return FHotThumb; }
    const QString& HotPath() const { return FHotPath; }
    const QStringList& HotFiles() const { return FHotFiles; }
    int HotIndex() const { return FHotIndex; }
    // Index into Thumbs of the thumbnail containing Point (edges included),
    // -1 when none.
    int HitTest(QPoint point) const;
    // True while pictures are being decoded or the day listed for the page.
    bool Busy() const;

    void PaintBoxPaint(QPainter& canvas);
    void PaintBoxMouseMove(QPoint point);
    void PaintBoxDblClick(QPoint point);
    void TimerTimer();
    void SpeedFrameTrackBarChange(QObject* sender);
    void WidthFrameTrackBarChange(QObject* sender);

    TkaPanel* kaPanel = nullptr;
    TkaTrackbarFrame* SpeedFrame = nullptr;
    TkaTrackbarFrame* WidthFrame = nullptr;
    TkaLabel* PathkaLabel = nullptr;
    QScrollArea* ScrollBox = nullptr;
    TPaintBox* PaintBox = nullptr;
    QTimer* Timer = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateComponents();
    void CreateTrackbarFrames();
    // Places the thumbnails of the listing; returns the height they need.
    // They are placed again only when what they depend on changed, not at
    // every paint: a day may hold thousands of scenes.
    int BuildThumbs(int textHeight);
    int PlaceThumbs(int textHeight);
    void DrawThumb(QPainter& canvas, const TThumb& thumb, bool hot, int textHeight);
    void PictureDone(const QString& fileName, bool failed);
    void UpdateDoneArea();
    void ShowHotPicture(const QString& fileName);
    // Lists the day: at once when it is small, else on the worker, the page
    // showing the last listing until the new one comes.
    void ListDay();
    void DayListed(const QString& path);
    // HotFiles of HotPath: at once for a usual scene, else from the worker.
    void ListHotFiles();
    QRect ThumbArea(const TThumb& thumb) const;
    void SetHot(int index, const QString& hotPath);
    bool ShowNextHotFile();
    void FitPaintBoxWidth();
    void KeepHotThumbInPlace();
    // The thumbnail under the mouse pointer, -1 when the pointer is elsewhere.
    // The pointer is where the last mouse move put it, in the scroll box's
    // viewport: the screen's cursor may be anywhere else by now.
    int PointerThumb() const;
    // Makes the thumbnail under the pointer the hot one after the thumbnails moved.
    void HitTestPointer();

    QString FPath;
    QString FTimeFormat = QStringLiteral("hh:mm:ss");
    std::vector<TThumb> FThumbs;
    QStringList FKeys;
    int FThumbWidth = 0;
    int FThumbHeight = 0;
    int FTextHeight = 0;
    int FHotThumb = -1;
    QString FHotPath;
    QStringList FHotFiles;
    int FHotIndex = 0;
    // The hot thumbnail's current picture while it plays; null: its first.
    QImage FHotPicture;
    // The picture the animation waits for while the pool decodes it.
    QString FHotAwaited;
    QPoint FPointer;
    bool FPointerInside = false;
    TThumbnailLoader* FLoader = nullptr;
    // The first picture of each scene of the day shown, with the state of
    // the scene's directory it was found in: a listing reads only the scenes
    // that changed.
    struct TSceneEntry {
        TFileStamp Directory;
        QString FirstPicture;
    };
    using TSceneMap = QHash<QString, TSceneEntry>;
    // The scenes of a day that have a picture, in listing order.
    struct TDayListing {
        TFileStamp Day;
        QStringList Names;
        QStringList FirstPictures;
        TSceneMap Scenes;
    };
    static std::optional<TDayListing> ListScenes(const QString& day, const TSceneMap& known,
                                                 qint64 budget);
    void SetListing(TDayListing listing);
    TDayListing FListing;
    quint64 FListingGeneration = 0; // counts the listings taken
    // What the thumbnails were last placed for, and the height they needed.
    struct TLayoutKey {
        QString Path;
        quint64 Listing = 0;
        int Width = -1;
        int ThumbWidth = 0;
        int ThumbHeight = 0;
        int TextHeight = 0;
        QString TimeFormat;
        bool operator==(const TLayoutKey&) const = default;
    };
    TLayoutKey FLayout;
    int FLayoutHeight = -1;
    // Index into FThumbs of each first picture.
    QHash<QString, int> FThumbOfFile;
    // The cells whose thumbnails came in this turn of the event loop.
    QRect FDoneArea;
    bool FListingRuns = false;
    bool FListAgain = false;
    std::shared_ptr<TUnreadablePictures> FUnreadable;
    QThreadPool FListingPool;
    TWorkerResults FListings{this};
};
