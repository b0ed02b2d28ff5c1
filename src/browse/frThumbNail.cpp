#include "frThumbNail.h"

#include "BoundedListing.h"
#include "EkaError.h"
#include "PaintBox.h"
#include "PathTreeNodeObject.h"
#include "ThumbnailLoader.h"
#include "TreeNodeObject.h"
#include "UnreadablePictures.h"
#include "frExplorer.h"
#include "frPlayer.h"
#include "kaAction.h"
#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaLanguage.h"
#include "kaPanel.h"
#include "kaSceneFiles.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreeView.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <utility>

namespace {

constexpr int FrameWidth = 320;
constexpr int FrameHeight = 240;
constexpr int PanelHeight = 56;
constexpr int TrackbarFrameWidth = 152;
constexpr int TrackbarFrameHeight = 44;
constexpr int MinScrollBoxSize = 50;
constexpr int DefaultTimerInterval = 100; // ms
// Space around each thumbnail and between them.
constexpr int Margin = 6;
constexpr int Border = 3;
const QColor BevelShadow(128, 128, 128);

struct TTrackbarDesign {
    const char* Name;
    const char* Caption;
    int Min;
    int Max;
    int Position;
    int PageStep;
    int Frequency;
};

bool IsPictureName(const QString& name) {
    return name.endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive) && !IsHiddenName(name);
}

int NumberAt(const QString& name, int start, int length) {
    bool ok = false;
    const int value = name.mid(start, length).toInt(&ok);
    return ok ? value : 0;
}

QTime SceneTime(const QString& sceneName) {
    return QTime(NumberAt(sceneName, 0, 2), NumberAt(sceneName, 2, 2), NumberAt(sceneName, 4, 2),
                 NumberAt(sceneName, 6, 3));
}

// Light on the top and left edges of Rect, Dark on the bottom and right, one
// pixel wide. Filled, not stroked: the same pixels as lines drawn with a pen,
// at a fraction of the cost on a page of hundreds.
void DrawBevel(QPainter& canvas, const QRect& rect, const QColor& light, const QColor& dark) {
    canvas.fillRect(QRect(rect.topLeft(), rect.topRight()), light);
    canvas.fillRect(QRect(rect.topLeft(), rect.bottomLeft()), light);
    canvas.fillRect(QRect(rect.bottomLeft(), rect.bottomRight()), dark);
    canvas.fillRect(QRect(rect.topRight(), rect.bottomRight()), dark);
}

QTreeWidgetItem* FindPathNode(QTreeWidgetItem* node, const QString& path) {
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        const auto* object = dynamic_cast<TPathTreeNodeObject*>(TkaTreeView::NodeObject(child));
        if (object != nullptr && object->Path() == path)
            return child;
        if (QTreeWidgetItem* below = FindPathNode(child, path))
            return below;
    }
    return nullptr;
}

} // namespace

TThumbNailFrame::TThumbNailFrame(QObject* owner, QWidget* parent)
    : TTreeNodeFrame(owner, parent), FUnreadable(std::make_shared<TUnreadablePictures>()) {
    setObjectName(QStringLiteral("ThumbNailFrame"));
    resize(FrameWidth, FrameHeight);
    CreateComponents();
    Own(this, new TkaLanguage(this), "kaLanguage1");
    FListingPool.setMaxThreadCount(1);
    FLoader = new TThumbnailLoader(this);
    FLoader->OnReady = [this](const QString& fileName) { PictureDone(fileName, false); };
    FLoader->OnFailed = [this](const QString& fileName, const EJPEG& error) {
        // Reported from the event loop, once; the page passes over it from now on.
        FUnreadable->Report(fileName, error);
        PictureDone(fileName, true);
    };
}

TThumbNailFrame::~TThumbNailFrame() {
    FListings.Close();
    FListingPool.clear();
    FListingPool.waitForDone();
    // The paint box dies with the scroll box after this part of the frame.
    PaintBox->removeEventFilter(this);
    ScrollBox->viewport()->removeEventFilter(this);
    PaintBox->OnPaint = nullptr;
}

void TThumbNailFrame::CreateComponents() {
    kaPanel = Own(this, new TkaPanel(this), "kaPanel");
    kaPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    kaPanel->setMinimumHeight(PanelHeight);
    CreateTrackbarFrames();
    PathkaLabel = Own(this, new TkaLabel(kaPanel), "PathkaLabel");
    PathkaLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PathkaLabel->setContentsMargins(Margin, 0, Margin, 2);
    ExcludeFromLanguage(PathkaLabel);

    auto* bars = new QHBoxLayout;
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(Margin);
    bars->addWidget(SpeedFrame);
    bars->addWidget(WidthFrame);
    bars->addStretch();
    auto* panelColumn = new QVBoxLayout(kaPanel);
    panelColumn->setContentsMargins(2, 2, 2, 2);
    panelColumn->setSpacing(0);
    panelColumn->addLayout(bars);
    panelColumn->addWidget(PathkaLabel);

    ScrollBox = Own(this, new QScrollArea(this), "ScrollBox");
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setMinimumSize(MinScrollBoxSize, MinScrollBoxSize);
    ScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox->setWidgetResizable(false);
    PaintBox = Own(this, new TPaintBox, "PaintBox");
    PaintBox->setMouseTracking(true);
    // Its paint fills all it is asked to draw: nothing beneath it is drawn first.
    PaintBox->setAttribute(Qt::WA_OpaquePaintEvent);
    PaintBox->OnPaint = [this](QPainter& canvas) { PaintBoxPaint(canvas); };
    ScrollBox->setWidget(PaintBox);
    PaintBox->installEventFilter(this);
    ScrollBox->viewport()->installEventFilter(this);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(kaPanel);
    column->addWidget(ScrollBox, 1);

    Timer = Own(this, new QTimer(this), "Timer");
    Timer->setInterval(DefaultTimerInterval);
    connect(Timer, &QTimer::timeout, this, &TThumbNailFrame::TimerTimer);
    Timer->start();
}

void TThumbNailFrame::CreateTrackbarFrames() {
    const auto create = [this](const TTrackbarDesign& design) {
        auto* frame = Own(this, new TkaTrackbarFrame(kaPanel), design.Name);
        frame->setFixedSize(TrackbarFrameWidth, TrackbarFrameHeight);
        frame->kaLabel1->setText(QString::fromUtf8(design.Caption));
        TkaTrackBar* bar = frame->TrackBar;
        bar->SetMin(design.Min);
        bar->SetMax(design.Max);
        bar->SetPosition(design.Position);
        bar->setPageStep(design.PageStep);
        bar->SetFrequency(design.Frequency);
        return frame;
    };
    SpeedFrame = create({"SpeedFrame", "Pause [ms]", 1, 1000, 100, 100, 100});
    WidthFrame = create({"WidthFrame", "Width", 50, 320, 150, 50, 16});
    // Connected after the designed positions: until the restore the sizes are 0.
    SpeedFrame->OnTrackBarChange = [this](QObject* sender) { SpeedFrameTrackBarChange(sender); };
    WidthFrame->OnTrackBarChange = [this](QObject* sender) { WidthFrameTrackBarChange(sender); };
}

void TThumbNailFrame::SetUnreadablePictures(std::shared_ptr<TUnreadablePictures> registry) {
    if (registry)
        FUnreadable = std::move(registry);
}

// ---- Path --------------------------------------------------------------------------

void TThumbNailFrame::SetPath(const QString& value) {
    if (value == FPath)
        return;
    FPath = value;
    SetListing(TDayListing());
    // The old day's pictures are not wanted any more.
    FLoader->CancelQueued();
    // The mouse rests on no scene of the new day yet.
    SetHot(-1, QString());
    ScrollBox->verticalScrollBar()->setValue(0);
    Repaint();
}

void TThumbNailFrame::Repaint() {
    ListDay();
    if (!FListingRuns) {
        KeepHotThumbInPlace();
        PaintBox->update();
    }
}

std::optional<TThumbNailFrame::TDayListing>
TThumbNailFrame::ListScenes(const QString& day, const TSceneMap& known, qint64 budget) {
    TDayListing listing;
    // Taken first: a change during the listing makes the next paint list again.
    listing.Day = TFileStamp::OfDirectory(day);
    const std::optional<QStringList> names = SortedEntriesWithin(
        day,
        [](const QFileInfo& entry) { return entry.isDir() && !IsHiddenName(entry.fileName()); },
        budget);
    if (!names)
        return std::nullopt;
    const QString directory = IncludeBackslash(day);
    for (const QString& name : *names) {
        const QString scene = directory + name;
        if (--budget < 0)
            return std::nullopt;
        // The first picture of a scene: the first "*.jpg" of its files.
        const TFileStamp stamp = TFileStamp::OfDirectory(scene);
        QString first;
        const auto found = known.constFind(scene);
        if (found != known.constEnd() && found->Directory == stamp) {
            first = found->FirstPicture;
        } else {
            const std::optional<QStringList> files = SceneFilesWithin(scene, budget);
            if (!files)
                return std::nullopt;
            const auto picture = std::find_if(files->cbegin(), files->cend(), IsPictureName);
            if (picture != files->cend())
                first = IncludeBackslash(scene) + *picture;
        }
        listing.Scenes.insert(scene, {stamp, first});
        if (first.isEmpty())
            continue;
        listing.Names.append(name);
        listing.FirstPictures.append(first);
    }
    return listing;
}

void TThumbNailFrame::SetListing(TDayListing listing) {
    FListing = std::move(listing);
    ++FListingGeneration;
}

void TThumbNailFrame::ListDay() {
    if (FListingRuns) {
        FListAgain = true;
        return;
    }
    if (FPath.isEmpty()) {
        SetListing(TDayListing());
        return;
    }
    if (std::optional<TDayListing> listing =
            ListScenes(FPath, FListing.Scenes, MainThreadListingBudget)) {
        SetListing(std::move(*listing));
        return;
    }
    // A large day: listed on the worker, the page showing the last listing.
    FListingRuns = true;
    const TWorkerResults results = FListings;
    // Dereferenced only in the event loop, where the port guarantees it lives.
    TThumbNailFrame* frame = this;
    FListingPool.start([results, frame, path = FPath, known = FListing.Scenes] {
        std::optional<TDayListing> listing = ListScenes(path, known, UnboundedListing);
        results.Post([frame, path, listing = std::move(listing)]() mutable {
            if (path == frame->FPath && listing)
                frame->SetListing(std::move(*listing));
            frame->DayListed(path);
        });
    });
}

void TThumbNailFrame::ListHotFiles() {
    FHotFiles.clear();
    if (FHotPath.isEmpty())
        return;
    qint64 budget = MainThreadListingBudget;
    if (std::optional<QStringList> files = SceneFilesWithin(FHotPath, budget)) {
        FHotFiles = std::move(*files);
        return;
    }
    // A scene of thousands of pictures: it plays once its listing has come.
    const TWorkerResults results = FListings;
    TThumbNailFrame* frame = this;
    FListingPool.start([results, frame, scene = FHotPath] {
        qint64 unbounded = UnboundedListing;
        QStringList files = SceneFilesWithin(scene, unbounded).value_or(QStringList());
        results.Post([frame, scene, files = std::move(files)] {
            if (scene == frame->FHotPath)
                frame->FHotFiles = files;
        });
    });
}

void TThumbNailFrame::DayListed(const QString& path) {
    FListingRuns = false;
    if (FListAgain) {
        FListAgain = false;
        ListDay();
    }
    if (path == FPath && !FListingRuns) {
        KeepHotThumbInPlace();
        PaintBox->update();
    }
}

void TThumbNailFrame::KeepHotThumbInPlace() {
    if (FHotThumb < 0 || size_t(FHotThumb) >= FThumbs.size())
        return;
    const int before = FThumbs[size_t(FHotThumb)].Rect.top();
    const int needed = BuildThumbs(FTextHeight);
    if (needed < 0 || FHotThumb < 0)
        return;
    // The range must hold the new position before the scroll bar takes it.
    if (PaintBox->height() != needed)
        PaintBox->resize(PaintBox->width(), needed);
    const int moved = FThumbs[size_t(FHotThumb)].Rect.top() - before;
    QScrollBar* bar = ScrollBox->verticalScrollBar();
    if (moved != 0)
        bar->setValue(bar->value() + moved);
    HitTestPointer();
}

int TThumbNailFrame::PointerThumb() const {
    QWidget* viewport = ScrollBox->viewport();
    if (!FPointerInside || !viewport->rect().contains(FPointer))
        return -1;
    return HitTest(PaintBox->mapFrom(viewport, FPointer));
}

void TThumbNailFrame::HitTestPointer() {
    const int hit = PointerThumb();
    if (FPointerInside && hit != FHotThumb)
        SetHot(hit, hit >= 0 ? FKeys.at(hit) : QString());
}

// ---- Layout and painting -------------------------------------------------------------

int TThumbNailFrame::BuildThumbs(int textHeight) {
    const TLayoutKey layout{FPath,        FListingGeneration, PaintBox->width(), FThumbWidth,
                            FThumbHeight, textHeight,         FTimeFormat};
    if (layout == FLayout)
        return FLayoutHeight;
    FLayout = layout;
    FLayoutHeight = PlaceThumbs(textHeight);
    return FLayoutHeight;
}

int TThumbNailFrame::PlaceThumbs(int textHeight) {
    FThumbs.clear();
    FKeys.clear();
    FThumbOfFile.clear();
    FHotThumb = -1;
    if (FPath.isEmpty())
        return -1;
    const QString day = IncludeBackslash(FPath);
    const int width = PaintBox->width();
    int x = Margin;
    int y = Margin;
    for (qsizetype i = 0; i < FListing.Names.size(); ++i) {
        const QString& name = FListing.Names.at(i);
        TThumb thumb;
        thumb.FileName = FListing.FirstPictures.at(i);
        thumb.Time = SceneTime(name);
        thumb.Caption = FormatSceneCaption(name, FTimeFormat);
        thumb.Rect = QRect(x + Border, y + Border, FThumbWidth, FThumbHeight);
        FThumbs.push_back(std::move(thumb));
        FKeys.append(day + name);
        x += FThumbWidth + Margin;
        if (x > width - FThumbWidth) {
            x = Margin;
            y += FThumbHeight + textHeight + Margin;
        }
    }
    // The listing is oldest first: the newest scene takes the top left place.
    const size_t count = FThumbs.size();
    for (size_t i = 0; i < count / 2; ++i)
        std::swap(FThumbs[i].Rect, FThumbs[count - 1 - i].Rect);
    FThumbOfFile.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i)
        FThumbOfFile.insert(FThumbs[i].FileName, int(i));
    // The scene under the mouse stays hot across repaints.
    if (!FHotPath.isEmpty())
        FHotThumb = int(FKeys.indexOf(FHotPath));
    return FThumbHeight + y + textHeight + Margin;
}

void TThumbNailFrame::PaintBoxPaint(QPainter& canvas) {
    canvas.fillRect(PaintBox->rect(), ScrollBox->palette().color(QPalette::Window));
    FTextHeight = QFontMetrics(PaintBox->font()).height();
    // Whatever else changed the day is seen at the next paint, listed from
    // the event loop.
    if (!FPath.isEmpty() && !FListingRuns && TFileStamp::OfDirectory(FPath) != FListing.Day)
        QTimer::singleShot(0, this, &TThumbNailFrame::Repaint);
    const int needed = BuildThumbs(FTextHeight);
    if (needed < 0)
        return;
    if (PaintBox->height() != needed) {
        // The size change paints again.
        PaintBox->resize(PaintBox->width(), needed);
        return;
    }
    const int scroll = ScrollBox->verticalScrollBar()->value();
    const int visible = ScrollBox->viewport()->height();
    const auto shown = [&](const TThumb& thumb) {
        const int top = thumb.Rect.top();
        return top >= scroll - FThumbHeight && top < scroll + visible;
    };
    // What is not decoded yet is asked for from the pool and drawn when it
    // comes; a thumbnail that came repaints its own cell only.
    const QRegion& exposed = PaintBox->Exposed();
    for (int i = int(FThumbs.size()) - 1; i >= 0; --i) {
        const TThumb& thumb = FThumbs[size_t(i)];
        if (shown(thumb) && exposed.intersects(ThumbArea(thumb)))
            DrawThumb(canvas, thumb, i == FHotThumb, FTextHeight);
    }
    // The rebuild may have moved another scene under the mouse: it becomes the
    // hot one after this paint, not the one that slid away.
    if (FPointerInside && PointerThumb() != FHotThumb)
        QTimer::singleShot(0, this, &TThumbNailFrame::HitTestPointer);
}

QRect TThumbNailFrame::ThumbArea(const TThumb& thumb) const {
    return QRect(thumb.Rect.left() - Border, thumb.Rect.top() - Border,
                 FThumbWidth + 2 * Border + 1, FThumbHeight + FTextHeight + 2 * Border + 1);
}

void TThumbNailFrame::DrawThumb(QPainter& canvas, const TThumb& thumb, bool hot, int textHeight) {
    // The page's paint has just filled the background.
    const QRect area = ThumbArea(thumb);
    DrawBevel(canvas, area, Qt::black, Qt::black);
    DrawBevel(canvas, area.adjusted(1, 1, -1, -1), Qt::white, BevelShadow);
    DrawBevel(canvas, area.adjusted(2, 2, -2, -2), Qt::white, BevelShadow);
    DrawBevel(canvas, thumb.Rect.adjusted(-1, -1, 1, 1), BevelShadow, Qt::white);

    const TFileStamp stamp = TFileStamp::Of(thumb.FileName);
    if (!stamp.Exists || thumb.Rect.isEmpty())
        return;
    const bool unreadable = FUnreadable->Known(thumb.FileName);
    QImage picture;
    if (hot && !FHotPicture.isNull())
        picture = FHotPicture;
    else if (!unreadable)
        picture = FLoader->Request(thumb.FileName, thumb.Rect.size(), stamp);
    if (unreadable) {
        // A plain face instead of a picture, the time still tells the scene.
        canvas.fillRect(thumb.Rect, ScrollBox->palette().color(QPalette::Mid));
        canvas.setPen(Qt::white);
        canvas.drawText(thumb.Rect, Qt::AlignCenter, QStringLiteral("?"));
    } else if (picture.isNull()) {
        // Still on its way from the pool: an empty cell until it comes.
        canvas.fillRect(thumb.Rect, ScrollBox->palette().color(QPalette::Midlight));
    } else {
        canvas.drawImage(thumb.Rect, picture);
    }
    QFont font = PaintBox->font();
    font.setBold(hot);
    canvas.setFont(font);
    canvas.setPen(Qt::black);
    const QRect text(thumb.Rect.left(), thumb.Rect.top() + FThumbHeight + 1, FThumbWidth,
                     textHeight);
    canvas.drawText(text, Qt::AlignHCenter | Qt::AlignTop, thumb.Caption);
}

void TThumbNailFrame::PictureDone(const QString& fileName, bool failed) {
    if (fileName == FHotAwaited) {
        FHotAwaited.clear();
        if (failed)
            ShowNextHotFile(); // passed over as in one tick
        else
            ShowHotPicture(fileName);
    }
    const int index = FThumbOfFile.value(fileName, -1);
    if (index < 0)
        return;
    // The cells of one hand-over are drawn again as one rectangle: Qt fills
    // and blits within a plain rectangle directly, within a region of
    // several span by span, on its thread pool.
    if (FDoneArea.isEmpty())
        QTimer::singleShot(0, this, &TThumbNailFrame::UpdateDoneArea);
    FDoneArea |= ThumbArea(FThumbs[size_t(index)]);
}

void TThumbNailFrame::UpdateDoneArea() {
    PaintBox->update(FDoneArea);
    FDoneArea = QRect();
}

bool TThumbNailFrame::Busy() const {
    return FLoader->Pending() > 0 || FListingRuns;
}

// ---- Mouse -----------------------------------------------------------------------------

int TThumbNailFrame::HitTest(QPoint point) const {
    for (size_t i = 0; i < FThumbs.size(); ++i) {
        const QRect& rect = FThumbs[i].Rect;
        if (rect.adjusted(0, 0, 1, 1).contains(point))
            return int(i);
    }
    return -1;
}

void TThumbNailFrame::PaintBoxMouseMove(QPoint point) {
    FPointer = PaintBox->mapTo(ScrollBox->viewport(), point);
    FPointerInside = true;
    const int hit = HitTest(point);
    SetHot(hit, hit >= 0 ? FKeys.at(hit) : QString());
}

void TThumbNailFrame::SetHot(int index, const QString& hotPath) {
    if (hotPath != FHotPath) {
        FHotPath = hotPath;
        PathkaLabel->setText(hotPath);
        FHotIndex = 0;
        ListHotFiles();
    }
    if (index == FHotThumb)
        return;
    // The old one gets its first picture and a normal time again.
    if (FHotThumb >= 0 && size_t(FHotThumb) < FThumbs.size())
        PaintBox->update(ThumbArea(FThumbs[size_t(FHotThumb)]));
    FHotThumb = index;
    FHotPicture = QImage();
    FHotAwaited.clear();
    if (index >= 0)
        PaintBox->update(ThumbArea(FThumbs[size_t(index)]));
}

void TThumbNailFrame::PaintBoxDblClick(QPoint point) {
    const int hit = HitTest(point);
    if (hit < 0 || !NodeOfPath)
        return;
    const QString scene = FKeys.at(hit);
    // The day is looked up by the path shown: the node this page was last
    // given may belong to another day, or be gone with a collapse.
    QTreeWidgetItem* day = NodeOfPath(FPath);
    QTreeWidget* tree = day != nullptr ? day->treeWidget() : nullptr;
    if (tree == nullptr || tree->currentItem() != day)
        return;
    // Expanding lists the day's scenes afresh.
    day->setExpanded(true);
    QTreeWidgetItem* sceneNode = FindPathNode(day, scene);
    if (sceneNode == nullptr)
        return;
    tree->setCurrentItem(sceneNode);
    if (auto* player = dynamic_cast<TkaPlayerFrame*>(TkaTreeView::NodePage(sceneNode))) {
        player->RepeatAction->setChecked(true);
        player->PlayForwardActionExecute();
    }
}

bool TThumbNailFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PaintBox) {
        switch (event->type()) {
        case QEvent::MouseMove:
            PaintBoxMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
            break;
        case QEvent::Enter:
            // The page may come up under a resting mouse: no move follows.
            PaintBoxMouseMove(static_cast<QEnterEvent*>(event)->position().toPoint());
            break;
        case QEvent::MouseButtonDblClick:
            PaintBoxDblClick(static_cast<QMouseEvent*>(event)->position().toPoint());
            return true;
        case QEvent::Leave:
            // Off the pictures nothing plays.
            FPointerInside = false;
            SetHot(-1, QString());
            break;
        default:
            break;
        }
    } else if (watched == ScrollBox->viewport() && event->type() == QEvent::Resize) {
        FitPaintBoxWidth();
    }
    return TTreeNodeFrame::eventFilter(watched, event);
}

void TThumbNailFrame::FitPaintBoxWidth() {
    const int width = ScrollBox->viewport()->width();
    if (PaintBox->width() != width)
        PaintBox->resize(width, std::max(PaintBox->height(), 1));
}

// ---- Animation -------------------------------------------------------------------------

void TThumbNailFrame::TimerTimer() {
    if (!isVisible() || FHotThumb < 0 || FHotFiles.isEmpty())
        return;
    ShowNextHotFile();
}

bool TThumbNailFrame::ShowNextHotFile() {
    // The animation waits for the picture on its way.
    if (!FHotAwaited.isEmpty())
        return false;
    const QString scene = IncludeBackslash(FHotPath);
    // Files that are no pictures, or broken ones, are passed over in the same tick.
    for (qsizetype attempt = 0; attempt < FHotFiles.size(); ++attempt) {
        if (FHotIndex >= FHotFiles.size())
            FHotIndex = 0;
        const QString fileName = scene + FHotFiles.at(FHotIndex);
        if (!TFileStamp::Of(fileName).Exists) {
            // Deleted while playing: the scene as it is now, from the same place on.
            ListHotFiles();
            if (FHotFiles.isEmpty())
                return false;
            continue;
        }
        FHotIndex = FHotIndex + 1 < FHotFiles.size() ? FHotIndex + 1 : 0;
        if (!IsPictureName(QFileInfo(fileName).fileName()) || FUnreadable->Known(fileName))
            continue;
        ShowHotPicture(fileName);
        return true;
    }
    return false;
}

void TThumbNailFrame::ShowHotPicture(const QString& fileName) {
    if (FHotThumb < 0 || size_t(FHotThumb) >= FThumbs.size())
        return;
    const TThumb& hot = FThumbs[size_t(FHotThumb)];
    const TFileStamp stamp = TFileStamp::Of(fileName);
    if (!stamp.Exists || hot.Rect.isEmpty())
        return;
    const QImage picture = FLoader->Request(fileName, hot.Rect.size(), stamp);
    if (picture.isNull()) {
        FHotAwaited = fileName;
        return;
    }
    FHotPicture = picture;
    PaintBox->update(hot.Rect);
}

// ---- Track bars ------------------------------------------------------------------------

void TThumbNailFrame::SpeedFrameTrackBarChange(QObject* sender) {
    SpeedFrame->TrackBarChange(sender);
    Timer->stop();
    Timer->setInterval(SpeedFrame->TrackBar->Position());
    Timer->start();
}

void TThumbNailFrame::WidthFrameTrackBarChange(QObject* sender) {
    WidthFrame->TrackBarChange(sender);
    FThumbWidth = WidthFrame->TrackBar->Position();
    FThumbHeight = FThumbWidth * 24 / 32;
    Repaint();
}
