#pragma once

#include "TreeNodeFrame.h"
#include "WorkerResults.h"
#include "frImage.h"
#include "frPlayer.h"
#include "frThumbNail.h"
#include "kaComponent.h"

#include <QPersistentModelIndex>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;
class QMenu;
class QMouseEvent;
class QSplitter;
class QTreeWidgetItem;
class TkaAction;
class TkaActionList;
class TkaPanel;
class TkaTreePanel;
class TkaTreeView;
class TPathTreeNodeObject;
class TSceneDeleter;
class TUnreadablePictures;

// Caption of a day directory (yyyymmdd) in Format, a QLocale date pattern.
// Missing or non-numeric parts default to 1968, 4 and 23; a name that gives no
// valid date is its own caption.
QString FormatDayCaption(const QString& dayName, const QString& format);
// Caption of a scene directory (hhnnsszzz) in Format, a QLocale time pattern.
// Missing or non-numeric parts default to 0; a name that gives no valid time
// is its own caption.
QString FormatSceneCaption(const QString& sceneName, const QString& format);

// Draws nodes with unread recordings in bold and the selected node in red.
class TExplorerItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TExplorerItemDelegate(TkaTreeView* tree);
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    TkaTreeView* FTree;
};

// The body of the main window: the tree of cameras and their recordings (days,
// scenes, picture files) on the left, the selected node's page on the right.
// Directory nodes are listed when expanded and dropped when collapsed; their
// unread state survives in the parent's UnreadNames meanwhile.
class TExplorerFrame : public QWidget, public TkaLoadable {
    Q_OBJECT

public:
    explicit TExplorerFrame(QObject* owner = nullptr, QWidget* parent = nullptr);
    ~TExplorerFrame() override;

    void Loaded() override;

    // Hides the current page and shows Page (none: no page) filling kaPanel.
    void ShowPage(TTreeNodeFrame* page);
    TTreeNodeFrame* CurrentPage() const { return FCurrentPage.data(); }

    // Shows what belongs to Node: the page of its object, or none.
    void NodeSelected(QTreeWidgetItem* node);

    // True when Path directly holds a file (not a directory) named "*.jpg".
    static bool HasPictures(const QString& path);
    // Adds Path's entries below Node: directories first, newest (last listed)
    // on top, each a scene when it holds pictures and a day otherwise; then the
    // files in listing order. Hidden entries are left out.
    void ListDirectory(QTreeWidgetItem* node, const QString& path);
    // True while a directory too large to list at once is being listed on a
    // worker; its node is filled from the event loop when the listing comes.
    bool Listing() const { return !FListingPaths.isEmpty(); }

    // One entry of a directory listing and what it is shown as.
    struct TListedEntry {
        enum TKind { File, Scene, Day };
        QString Name;
        TKind Kind = File;
        // Made with the listing: thousands of locale formattings are no
        // work for the main thread.
        QString Caption;
    };
    using TListing = std::vector<TListedEntry>;

    // Patterns in the user's separators: "MM/dd/yy ddd", or "dd.MM.yy ddd" when
    // a language file exists and the locale is German; "hh:mm:ss.zzz".
    const QString& DayFormat() const { return FDayFormat; }
    const QString& SceneFormat() const { return FSceneFormat; }
    QString DayCaption(const QString& dayName) const;
    // The first node in tree order whose path object holds Path exactly, or null.
    QTreeWidgetItem* PathNode(const QString& path) const;
    QString SceneCaption(const QString& sceneName) const;

    // Tree events. Change and click reach NodeSelected through OnTreeChange and
    // OnTreeClick, which the main window may replace by its own routing.
    void kaTreeViewChange(QTreeWidgetItem* node);
    void kaTreeViewClick(QTreeWidgetItem* node);
    void kaTreeViewExpanding(QTreeWidgetItem* node);
    void kaTreeViewExpanded(QTreeWidgetItem* node);
    void kaTreeViewCollapsing(QTreeWidgetItem* node);
    void kaTreeViewCollapsed(QTreeWidgetItem* node);
    void kaTreeViewDeletion(QTreeWidgetItem* node);
    std::function<void(QTreeWidgetItem*)> OnTreeChange;
    std::function<void(QTreeWidgetItem*)> OnTreeClick;

    void DeleteActionExecute();
    void DeleteActionUpdate();
    void MarkAsReadActionExecute();
    void MarkAsReadActionUpdate();

    TkaPanel* TreekaPanel = nullptr;
    TkaTreeView* kaTreeView = nullptr;
    QSplitter* Splitter = nullptr;
    TkaTreePanel* kaPanel = nullptr;
    TkaActionList* ActionList = nullptr;
    TkaAction* DeleteAction = nullptr;
    TkaAction* MarkAsReadAction = nullptr;
    // Holds DeleteAction and MarkAsReadAction.
    QMenu* PopupMenu = nullptr;

    // The shared recording pages (day, scene, picture), created when the
    // frame has loaded and freed with it; none before.
    TThumbNailFrame* ThumbnailPage = nullptr;
    TkaPlayerFrame* PlayerPage = nullptr;
    TImageFrame* ImagePage = nullptr;

    // Where recordings are deleted, off the main thread; the main window hands
    // it to every camera's scene settings too.
    const std::shared_ptr<TSceneDeleter>& SceneDeleter() const { return FSceneDeleter; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateComponents();
    void CreatePages();
    void ConnectTree();
    void ChooseCaptionFormats();
    void CollapseNode(QTreeWidgetItem* node);
    void AddListedNodes(QTreeWidgetItem* node, const QString& path, const TListing& entries);
    void FillExpandedNode(QTreeWidgetItem* node, TPathTreeNodeObject* object,
                          const TListing& entries);
    void ListOnWorker(const QString& path);
    void ListingArrived(const QString& path, const TListing& entries);
    void DeletePathNode(QTreeWidgetItem* node, const QString& path);
    // The node at Index when it is still there and still shows Path, else null.
    QTreeWidgetItem* PathNodeAfterQuestion(const QPersistentModelIndex& index,
                                           const QString& path) const;
    void DeleteFileNode(QTreeWidgetItem* node, const QString& fileName);
    void HandUnreadNamesDown(QTreeWidgetItem* node, TPathTreeNodeObject* object);
    void HandUnreadNamesUp(QTreeWidgetItem* node, TPathTreeNodeObject* object);
    bool TreeKeyDown(const QKeyEvent* event);
    void TreeMouseDown(const QMouseEvent* event);
    void ShowPopupMenu(const QPoint& position);

    QPointer<TTreeNodeFrame> FCurrentPage;
    // The pictures the three pages found unreadable, reported once.
    std::shared_ptr<TUnreadablePictures> FUnreadable;
    QString FDayFormat;
    QString FSceneFormat;
    std::shared_ptr<TSceneDeleter> FSceneDeleter;
    // Directories being listed on the worker, by path: their nodes may be
    // gone or collapsed by the time the listing comes.
    QSet<QString> FListingPaths;
    QThreadPool FListingPool;
    TWorkerResults FListings{this};
};
