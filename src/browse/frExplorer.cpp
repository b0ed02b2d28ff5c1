#include "frExplorer.h"

#include "BoundedListing.h"
#include "EkaError.h"
#include "FileTreeNodeObject.h"
#include "PathTreeNodeObject.h"
#include "SceneDeleter.h"
#include "THourGlass.h"
#include "TkaDialogs.h"
#include "TreeNodeFrame.h"
#include "UnreadablePictures.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaGeneral.h"
#include "kaLanguage.h"
#include "kaPanel.h"
#include "kaSceneFiles.h"
#include "kaTreePanel.h"
#include "kaTreeView.h"

#include <QBoxLayout>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTime>
#include <QTreeWidgetItem>

namespace {

// Image indexes of the program's tree images.
constexpr int ClosedFolderImage = 0;
constexpr int OpenFolderImage = 1;
constexpr int FirstNonFolderImage = 3;
constexpr int PictureImage = 5;
constexpr int SceneImage = 6;

constexpr int FrameWidth = 485;
constexpr int FrameHeight = 400;
constexpr int TreeWidth = 269;
constexpr int SplitterWidth = 3;
constexpr int TreeIndent = 19;
constexpr int ChangeDelay = 500; // ms

constexpr QChar CaptionSeparator = TkaTreeView::CaptionSeparator;

// ---- Messages ------------------------------------------------------------------

TkaMessage SureMessage{QStringLiteral("FREXPLOERER_MSG_SURE"),
                       QStringLiteral("Are you sure to delete all Files in")};

// ---- Captions ----------------------------------------------------------------------

// The number in Name's characters [Start, Start + Length), or Fallback when
// they are missing or not a number.
int NumberAt(const QString& name, int start, int length, int fallback) {
    bool ok = false;
    const int value = name.mid(start, length).toInt(&ok);
    return ok ? value : fallback;
}

// The first punctuation character of a locale pattern, as the user's separator.
QChar SeparatorOf(const QString& pattern, QChar fallback) {
    for (const QChar c : pattern) {
        if (c.isPunct() && c != QLatin1Char('\''))
            return c;
    }
    return fallback;
}

bool LanguageFileExists() {
    try {
        return !LanguageFiles().isEmpty();
    } catch (const EkaError&) {
        // A language folder that cannot be made holds no language.
        return false;
    }
}

// ---- Nodes ---------------------------------------------------------------------------

bool IsUnread(const QTreeWidgetItem* node) {
    const TTreeNodeObject* object = TkaTreeView::NodeObject(node);
    return object != nullptr && object->Unread();
}

// An unread name stands for the node captioned Caption or for one below it.
// A bare prefix is not enough: "20041331" must not claim "200413311".
bool NamesNodeOrBelow(const QString& entry, const QString& caption) {
    return entry.startsWith(caption) &&
           (entry.size() == caption.size() || entry.at(caption.size()) == CaptionSeparator);
}

void MarkSubtreeRead(QTreeWidgetItem* node) {
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (TPathTreeNodeObject* object = PathNodeObject(child))
            object->SetUnread(false);
        MarkSubtreeRead(child);
    }
}

bool HasUnreadSibling(const QTreeWidgetItem* node) {
    const QTreeWidgetItem* parent = node->parent();
    for (int i = 0; i < parent->childCount(); ++i) {
        if (parent->child(i) != node && IsUnread(parent->child(i)))
            return true;
    }
    return false;
}

void DeleteChildren(QTreeWidgetItem* node) {
    while (node->childCount() > 0)
        delete node->child(node->childCount() - 1);
}

// The scene directory a node's recordings belong to: the path of its
// outermost ancestor (or itself) with a path node object, the camera's scenes node.
QString SceneDirOf(const QTreeWidgetItem* node) {
    QString sceneDir;
    for (; node != nullptr; node = node->parent()) {
        if (const TPathTreeNodeObject* object = PathNodeObject(node))
            sceneDir = object->Path();
    }
    return sceneDir;
}

void SetImages(QTreeWidgetItem* node, int index) {
    TkaTreeView::SetImageIndex(node, index);
    TkaTreeView::SetSelectedIndex(node, index);
}

// Path's entries as the tree shows them, in listing order; null when
// reading them (each directory's first pictures included) takes more than Budget.
std::optional<TExplorerFrame::TListing> ListEntries(const QString& path, qint64 budget,
                                                    const QString& dayFormat,
                                                    const QString& sceneFormat) {
    // Links are left out: a node over one would let Delete and the retention
    // rules reach whatever it points at.
    const std::optional<QStringList> names = SortedEntriesWithin(
        path,
        [](const QFileInfo& entry) {
            return !entry.isSymLink() && !IsHiddenName(entry.fileName()) &&
                   (entry.isDir() || entry.isFile());
        },
        budget);
    if (!names)
        return std::nullopt;
    const QString directory = IncludeBackslash(path);
    TExplorerFrame::TListing entries;
    entries.reserve(size_t(names->size()));
    for (const QString& name : *names) {
        const QString fullPath = directory + name;
        if (!QFileInfo(fullPath).isDir()) {
            entries.push_back({name, TExplorerFrame::TListedEntry::File, name});
            continue;
        }
        // A directory that directly holds pictures is a scene, whatever its depth.
        const std::optional<bool> scene = HasPicturesWithin(fullPath, budget);
        if (!scene)
            return std::nullopt;
        if (*scene)
            entries.push_back(
                {name, TExplorerFrame::TListedEntry::Scene, FormatSceneCaption(name, sceneFormat)});
        else
            entries.push_back(
                {name, TExplorerFrame::TListedEntry::Day, FormatDayCaption(name, dayFormat)});
    }
    return entries;
}

} // namespace

QString FormatDayCaption(const QString& dayName, const QString& format) {
    const int year = NumberAt(dayName, 0, 4, 1968);
    const int month = NumberAt(dayName, 4, 2, 4);
    const int day = NumberAt(dayName, 6, 2, 23);
    // Years beyond four digits or before the calendar's first do not occur in
    // day names; keep them out of two-digit formatting.
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day))
        return dayName;
    return QLocale().toString(QDate(year, month, day), format);
}

QString FormatSceneCaption(const QString& sceneName, const QString& format) {
    const int hour = NumberAt(sceneName, 0, 2, 0);
    const int minute = NumberAt(sceneName, 2, 2, 0);
    const int second = NumberAt(sceneName, 4, 2, 0);
    const int msec = NumberAt(sceneName, 6, 3, 0);
    if (!QTime::isValid(hour, minute, second, msec))
        return sceneName;
    return QLocale().toString(QTime(hour, minute, second, msec), format);
}

// ---- Drawing -------------------------------------------------------------------------

TExplorerItemDelegate::TExplorerItemDelegate(TkaTreeView* tree)
    : QStyledItemDelegate(tree), FTree(tree) {}

void TExplorerItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                            const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->font.setBold(IsUnread(FTree->NodeFromIndex(index)));
    if (option->state.testFlag(QStyle::State_Selected)) {
        option->palette.setColor(QPalette::Text, Qt::red);
        option->palette.setColor(QPalette::HighlightedText, Qt::red);
    }
}

// ---- Construction ----------------------------------------------------------------

TExplorerFrame::TExplorerFrame(QObject* owner, QWidget* parent)
    : QWidget(parent), FSceneDeleter(std::make_shared<TSceneDeleter>()) {
    FListingPool.setMaxThreadCount(1);
    SetOwner(this, owner, objectName());
    SureMessage.Handle();
    ChooseCaptionFormats();
    CreateComponents();
    ConnectTree();
    OnTreeChange = [this](QTreeWidgetItem* node) { kaTreeViewChange(node); };
    OnTreeClick = [this](QTreeWidgetItem* node) { kaTreeViewClick(node); };
    Own(this, new TkaLanguage(this), "kaLanguage1");
}

TExplorerFrame::~TExplorerFrame() {
    // The tree outlives this object's own part; its last signals must not
    // reach handlers of a half-destroyed frame.
    disconnect(kaTreeView, nullptr, this, nullptr);
    // A listing still running is waited for; its result is dropped.
    FListings.Close();
    FListingPool.clear();
    FListingPool.waitForDone();
    kaTreeView->removeEventFilter(this);
    kaTreeView->viewport()->removeEventFilter(this);
}

void TExplorerFrame::CreateComponents() {
    resize(FrameWidth, FrameHeight);

    Splitter = Own(this, new QSplitter(Qt::Horizontal, this), "Splitter");
    Splitter->setHandleWidth(SplitterWidth);
    Splitter->setChildrenCollapsible(false);

    TreekaPanel = Own(this, new TkaPanel(Splitter), "TreekaPanel");
    TreekaPanel->setFrameShape(QFrame::NoFrame);
    kaTreeView = Own(this, new TkaTreeView(TreekaPanel), "kaTreeView");
    kaTreeView->SetChangeDelay(ChangeDelay);
    kaTreeView->setIndentation(TreeIndent);
    kaTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    kaTreeView->setItemDelegate(new TExplorerItemDelegate(kaTreeView));
    kaTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    QPalette palette = kaTreeView->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    kaTreeView->setPalette(palette);
    auto* treeLayout = new QVBoxLayout(TreekaPanel);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->addWidget(kaTreeView);

    kaPanel = Own(this, new TkaTreePanel(Splitter), "kaPanel");
    kaPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* pageLayout = new QVBoxLayout(kaPanel);
    pageLayout->setContentsMargins(0, 0, 0, 0);

    Splitter->addWidget(TreekaPanel);
    Splitter->addWidget(kaPanel);
    Splitter->setStretchFactor(1, 1);
    Splitter->setSizes({TreeWidth, FrameWidth - TreeWidth - SplitterWidth});
    auto* frameLayout = new QVBoxLayout(this);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(Splitter);

    ActionList = Own(this, new TkaActionList(this), "ActionList");
    DeleteAction = Own(this, new TkaAction(ActionList), "DeleteAction");
    DeleteAction->setText(QStringLiteral("Delete"));
    DeleteAction->setShortcut(QKeySequence(Qt::Key_Delete));
    MarkAsReadAction = Own(this, new TkaAction(ActionList), "MarkAsReadAction");
    MarkAsReadAction->setText(QStringLiteral("Mark as read"));
    MarkAsReadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F1));
    // Only while the tree has the focus: Del in a page's edit field must not
    // delete recordings.
    for (QAction* action : QList<QAction*>{DeleteAction, MarkAsReadAction}) {
        action->setShortcutContext(Qt::WidgetShortcut);
        kaTreeView->addAction(action);
    }
    connect(DeleteAction, &TkaAction::OnUpdate, this, &TExplorerFrame::DeleteActionUpdate);
    connect(DeleteAction, &QAction::triggered, this, &TExplorerFrame::DeleteActionExecute);
    connect(MarkAsReadAction, &TkaAction::OnUpdate, this, &TExplorerFrame::MarkAsReadActionUpdate);
    connect(MarkAsReadAction, &QAction::triggered, this, &TExplorerFrame::MarkAsReadActionExecute);

    // The menu shows the actions themselves: their state and command are its items'.
    PopupMenu = Own(this, new QMenu(this), "PopupMenu");
    PopupMenu->addAction(DeleteAction);
    PopupMenu->addAction(MarkAsReadAction);
}

void TExplorerFrame::ConnectTree() {
    connect(kaTreeView, &TkaTreeView::Change, this, [this](QTreeWidgetItem* node) {
        if (OnTreeChange)
            OnTreeChange(node);
    });
    connect(kaTreeView, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) {
        if (OnTreeClick)
            OnTreeClick(node);
    });
    // Qt reports expansion and collapse afterwards only; the "before" steps
    // run first in the same handler, before anything is drawn.
    connect(kaTreeView, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
        kaTreeViewExpanding(node);
        kaTreeViewExpanded(node);
    });
    connect(kaTreeView, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* node) {
        kaTreeViewCollapsing(node);
        kaTreeViewCollapsed(node);
    });
    connect(kaTreeView, &TkaTreeView::Deletion, this, &TExplorerFrame::kaTreeViewDeletion);
    connect(kaTreeView, &QWidget::customContextMenuRequested, this, &TExplorerFrame::ShowPopupMenu);
    kaTreeView->installEventFilter(this);
    kaTreeView->viewport()->installEventFilter(this);
}

void TExplorerFrame::ChooseCaptionFormats() {
    // German dates need a translation to go with them: some file in Language/.
    const QLocale locale;
    const QChar dateSeparator =
        SeparatorOf(locale.dateFormat(QLocale::ShortFormat), QLatin1Char('/'));
    const QChar timeSeparator =
        SeparatorOf(locale.timeFormat(QLocale::ShortFormat), QLatin1Char(':'));
    if (LanguageFileExists() && locale.language() == QLocale::German)
        FDayFormat = QStringLiteral("dd.MM.yy ddd");
    else
        FDayFormat = QStringLiteral("MM/dd/yy ddd").replace(QLatin1Char('/'), dateSeparator);
    FSceneFormat = QStringLiteral("hh:mm:ss.zzz").replace(QLatin1Char(':'), timeSeparator);
}

void TExplorerFrame::Loaded() {
    kaTreeView->ClearNodes();
    CreatePages();
}

void TExplorerFrame::CreatePages() {
    // Without owner: each page keys its settings by its own name. Qt frees
    // them with the page panel.
    FUnreadable = std::make_shared<TUnreadablePictures>();
    ThumbnailPage = CreateLoaded<TThumbNailFrame>(nullptr, kaPanel);
    ThumbnailPage->SetTimeFormat(FSceneFormat.chopped(4)); // without ".zzz"
    ThumbnailPage->SetUnreadablePictures(FUnreadable);
    ThumbnailPage->NodeOfPath = [this](const QString& path) { return PathNode(path); };
    PlayerPage = CreateLoaded<TkaPlayerFrame>(nullptr, kaPanel);
    PlayerPage->SetUnreadablePictures(FUnreadable);
    ImagePage = CreateLoaded<TImageFrame>(nullptr, kaPanel);
    ImagePage->SetUnreadablePictures(FUnreadable);
    for (TTreeNodeFrame* page :
         {static_cast<TTreeNodeFrame*>(ThumbnailPage), static_cast<TTreeNodeFrame*>(PlayerPage),
          static_cast<TTreeNodeFrame*>(ImagePage)}) {
        page->hide();
        page->SetShared(true);
    }
}

QTreeWidgetItem* TExplorerFrame::PathNode(const QString& path) const {
    QList<QTreeWidgetItem*> pending;
    for (int i = kaTreeView->topLevelItemCount() - 1; i >= 0; --i)
        pending.append(kaTreeView->topLevelItem(i));
    while (!pending.isEmpty()) {
        QTreeWidgetItem* node = pending.takeLast();
        if (const TPathTreeNodeObject* object = PathNodeObject(node);
            object != nullptr && object->Path() == path)
            return node;
        for (int i = node->childCount() - 1; i >= 0; --i)
            pending.append(node->child(i));
    }
    return nullptr;
}

QString TExplorerFrame::DayCaption(const QString& dayName) const {
    return FormatDayCaption(dayName, FDayFormat);
}

QString TExplorerFrame::SceneCaption(const QString& sceneName) const {
    return FormatSceneCaption(sceneName, FSceneFormat);
}

// ---- Pages ---------------------------------------------------------------------------

void TExplorerFrame::ShowPage(TTreeNodeFrame* page) {
    if (page == CurrentPage())
        return;
    if (TTreeNodeFrame* current = CurrentPage())
        current->hide();
    FCurrentPage = page;
    if (page == nullptr)
        return;
    if (page->parentWidget() != kaPanel)
        page->setParent(kaPanel);
    if (kaPanel->layout()->indexOf(page) < 0)
        kaPanel->layout()->addWidget(page);
    page->show();
}

void TExplorerFrame::NodeSelected(QTreeWidgetItem* node) {
    TTreeNodeObject* object = TkaTreeView::NodeObject(node);
    if (object == nullptr) {
        ShowPage(nullptr);
        return;
    }
    TTreeNodeFrame* page = object->Page();
    ShowPage(page);
    if (const TPathTreeNodeObject* path = PathNodeObject(node)) {
        if (page != nullptr && page == PlayerPage)
            PlayerPage->SetPath(path->Path());
        else if (page != nullptr && page == ThumbnailPage)
            ThumbnailPage->SetPath(path->Path());
        if (page != nullptr)
            page->SetNode(node);
    }
    const auto* file = dynamic_cast<const TFileTreeNodeObject*>(object);
    if (file != nullptr && page != nullptr && page == ImagePage)
        ImagePage->LoadPicture(file->FileName());
}

// ---- Listing -------------------------------------------------------------------------

bool TExplorerFrame::HasPictures(const QString& path) {
    // Name filters match without letter case, as the recordings' file system did.
    return !QDir(path)
                .entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::NoSymLinks)
                .isEmpty();
}

void TExplorerFrame::ListDirectory(QTreeWidgetItem* node, const QString& path) {
    AddListedNodes(
        node, path,
        ListEntries(path, UnboundedListing, FDayFormat, FSceneFormat).value_or(TListing()));
}

void TExplorerFrame::AddListedNodes(QTreeWidgetItem* node, const QString& path,
                                    const TListing& entries) {
    const QString directory = IncludeBackslash(path);
    // Directories on top in reverse listing order (newest first), then the
    // files in listing order; all in one insertion, thousands as cheaply as one.
    QList<TkaTreeView::TNewNode> nodes;
    nodes.reserve(qsizetype(entries.size()));
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        if (entry->Kind == TListedEntry::File)
            continue;
        // What is being deleted is left out: its node is gone already.
        if (FSceneDeleter->Deleting(directory + entry->Name))
            continue;
        const bool scene = entry->Kind == TListedEntry::Scene;
        nodes.append({entry->Caption,
                      scene ? static_cast<TTreeNodeFrame*>(PlayerPage)
                            : static_cast<TTreeNodeFrame*>(ThumbnailPage),
                      new TPathTreeNodeObject(nullptr, directory + entry->Name, nullptr),
                      scene ? SceneImage : ClosedFolderImage, true});
    }
    // Nodes there before stay below the directories, as front insertions left them.
    const qsizetype directories = nodes.size();
    for (const TListedEntry& entry : entries) {
        if (entry.Kind == TListedEntry::File && !FSceneDeleter->Deleting(directory + entry.Name))
            nodes.append({entry.Name, ImagePage, new TFileTreeNodeObject(directory + entry.Name),
                          PictureImage, false});
    }
    const int before = node->childCount();
    kaTreeView->AddNodes(node, nodes.mid(0, directories));
    for (int i = 0; i < before; ++i)
        node->addChild(node->takeChild(0));
    kaTreeView->AddNodes(node, nodes.mid(directories));
}

void TExplorerFrame::FillExpandedNode(QTreeWidgetItem* node, TPathTreeNodeObject* object,
                                      const TListing& entries) {
    AddListedNodes(node, object->Path(), entries);
    if (node->childCount() == 0)
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    HandUnreadNamesDown(node, object);
}

void TExplorerFrame::ListOnWorker(const QString& path) {
    FListingPaths.insert(path);
    const TWorkerResults results = FListings;
    // Dereferenced only in the event loop, where the port guarantees it lives.
    TExplorerFrame* frame = this;
    FListingPool.start([results, frame, path, day = FDayFormat, scene = FSceneFormat] {
        TListing entries = ListEntries(path, UnboundedListing, day, scene).value_or(TListing());
        results.Post(
            [frame, path, entries = std::move(entries)] { frame->ListingArrived(path, entries); });
    });
}

void TExplorerFrame::ListingArrived(const QString& path, const TListing& entries) {
    FListingPaths.remove(path);
    // Looked up again: meanwhile the node may have gone, or a dialog's loop
    // may have let the tree change.
    QTreeWidgetItem* node = PathNode(path);
    TPathTreeNodeObject* object = PathNodeObject(node);
    if (object == nullptr || !node->isExpanded())
        return;
    // New scenes inserted meanwhile are in the listing; their unread state is kept.
    if (node->childCount() > 0) {
        HandUnreadNamesUp(node, object);
        DeleteChildren(node);
    }
    FillExpandedNode(node, object, entries);
}

// ---- Expansion and collapse ----------------------------------------------------------

void TExplorerFrame::kaTreeViewExpanding(QTreeWidgetItem* node) {
    TPathTreeNodeObject* object = PathNodeObject(node);
    if (object == nullptr)
        return;
    THourGlassScope busy;
    // Children left from a collapse that bypassed the handlers (collapseAll)
    // would be listed twice; their unread state is kept as a collapse keeps it.
    if (node->childCount() > 0) {
        HandUnreadNamesUp(node, object);
        DeleteChildren(node);
    }
    const QString path = object->Path();
    // A listing of this directory is on its way: it fills the node.
    if (FListingPaths.contains(path))
        return;
    // Small directories are listed at once; a large day (thousands of
    // scenes) is listed on the worker, the window going on meanwhile.
    if (const std::optional<TListing> entries =
            ListEntries(path, MainThreadListingBudget, FDayFormat, FSceneFormat))
        FillExpandedNode(node, object, *entries);
    else
        ListOnWorker(path);
}

void TExplorerFrame::kaTreeViewExpanded(QTreeWidgetItem* node) {
    if (TkaTreeView::ImageIndex(node) < FirstNonFolderImage)
        SetImages(node, OpenFolderImage);
}

void TExplorerFrame::kaTreeViewCollapsing(QTreeWidgetItem* node) {
    TPathTreeNodeObject* object = PathNodeObject(node);
    if (object == nullptr)
        return;
    THourGlassScope busy;
    HandUnreadNamesUp(node, object);
}

void TExplorerFrame::kaTreeViewCollapsed(QTreeWidgetItem* node) {
    if (TkaTreeView::ImageIndex(node) < FirstNonFolderImage)
        SetImages(node, ClosedFolderImage);
    // The node keeps its child indicator: expanding lists the directory afresh.
    if (PathNodeObject(node) != nullptr)
        DeleteChildren(node);
}

void TExplorerFrame::CollapseNode(QTreeWidgetItem* node) {
    {
        // The steps run here directly, whether or not Qt reports the collapse.
        const QSignalBlocker blocker(kaTreeView);
        node->setExpanded(false);
    }
    kaTreeViewCollapsing(node);
    kaTreeViewCollapsed(node);
}

void TExplorerFrame::HandUnreadNamesDown(QTreeWidgetItem* node, TPathTreeNodeObject* object) {
    QStringList& names = object->UnreadNames();
    for (int i = 0; i < node->childCount() && !names.isEmpty(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        const QString caption = child->text(0);
        TTreeNodeObject* childObject = TkaTreeView::NodeObject(child);
        TPathTreeNodeObject* childPath = PathNodeObject(child);
        for (qsizetype k = 0; k < names.size();) {
            const QString entry = names.at(k);
            if (!NamesNodeOrBelow(entry, caption)) {
                ++k;
                continue;
            }
            if (childObject != nullptr)
                childObject->SetUnread(true);
            if (entry.size() > caption.size() && childPath != nullptr)
                childPath->UnreadNames().append(entry.mid(caption.size() + 1));
            names.removeAt(k);
        }
    }
    names.clear();
}

void TExplorerFrame::HandUnreadNamesUp(QTreeWidgetItem* node, TPathTreeNodeObject* object) {
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        TPathTreeNodeObject* childObject = PathNodeObject(child);
        if (childObject == nullptr)
            continue;
        // Grandchildren hand their state to the child first.
        if (child->isExpanded() || child->childCount() > 0)
            CollapseNode(child);
        const QString caption = child->text(0);
        for (const QString& entry : childObject->UnreadNames())
            object->UnreadNames().append(caption + CaptionSeparator + entry);
        if (childObject->Unread())
            object->UnreadNames().append(caption);
    }
}

void TExplorerFrame::kaTreeViewDeletion(QTreeWidgetItem* node) {
    const TTreeNodeObject* object = TkaTreeView::NodeObject(node);
    if (object == nullptr)
        return;
    if (object->Page() != nullptr && object->Page() == CurrentPage() &&
        node == kaTreeView->currentItem())
        ShowPage(nullptr);
}

// ---- Selection -----------------------------------------------------------------------

void TExplorerFrame::kaTreeViewChange(QTreeWidgetItem* node) {
    NodeSelected(node);
}

void TExplorerFrame::kaTreeViewClick(QTreeWidgetItem* node) {
    NodeSelected(node);
}

bool TExplorerFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == kaTreeView && event->type() == QEvent::KeyPress)
        return TreeKeyDown(static_cast<const QKeyEvent*>(event));
    if (watched == kaTreeView->viewport() && event->type() == QEvent::MouseButtonPress)
        TreeMouseDown(static_cast<const QMouseEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

bool TExplorerFrame::TreeKeyDown(const QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || !event->modifiers().testFlag(Qt::ControlModifier) ||
        kaTreeView->currentItem() == nullptr)
        return false;
    MarkAsReadActionUpdate();
    MarkAsReadAction->trigger();
    return true;
}

void TExplorerFrame::TreeMouseDown(const QMouseEvent* event) {
    // The pop-up menu acts on the node under the pointer.
    if (event->button() != Qt::RightButton)
        return;
    if (QTreeWidgetItem* node = kaTreeView->itemAt(event->position().toPoint()))
        kaTreeView->setCurrentItem(node);
}

void TExplorerFrame::ShowPopupMenu(const QPoint& position) {
    ActionList->UpdateActions();
    PopupMenu->popup(kaTreeView->viewport()->mapToGlobal(position));
}

// ---- Delete --------------------------------------------------------------------------

void TExplorerFrame::DeleteActionUpdate() {
    const TTreeNodeObject* object = TkaTreeView::NodeObject(kaTreeView->currentItem());
    DeleteAction->setEnabled(dynamic_cast<const TPathTreeNodeObject*>(object) != nullptr ||
                             dynamic_cast<const TFileTreeNodeObject*>(object) != nullptr);
}

void TExplorerFrame::DeleteActionExecute() {
    QTreeWidgetItem* node = kaTreeView->currentItem();
    TTreeNodeObject* object = TkaTreeView::NodeObject(node);
    if (auto* path = dynamic_cast<TPathTreeNodeObject*>(object))
        DeletePathNode(node, path->Path());
    else if (auto* file = dynamic_cast<TFileTreeNodeObject*>(object))
        DeleteFileNode(node, file->FileName());
}

QTreeWidgetItem* TExplorerFrame::PathNodeAfterQuestion(const QPersistentModelIndex& index,
                                                       const QString& path) const {
    // The index follows the node through insertions above it and becomes
    // invalid with the node; a node that now stands for another directory is
    // not the one the user answered for.
    if (!index.isValid())
        return nullptr;
    QTreeWidgetItem* node = kaTreeView->NodeFromIndex(index);
    const TPathTreeNodeObject* object = PathNodeObject(node);
    return object != nullptr && object->Path() == path ? node : nullptr;
}

void TExplorerFrame::DeletePathNode(QTreeWidgetItem* node, const QString& path) {
    const QString question = SureMessage.Text() + QLatin1Char(' ') + path + QStringLiteral(" ?");
    // While the question is open, timers go on and may delete this very node
    // (the guard, the per-day limit): only its index is kept across it.
    const QPersistentModelIndex index = kaTreeView->IndexOfNode(node);
    node = nullptr;
    if (Dialogs().Confirm(question, TConfirmButtons::YesNoCancel, TDialogAnswer::No) !=
        TDialogAnswer::Yes)
        return;
    node = PathNodeAfterQuestion(index, path);
    if (node == nullptr)
        return;
    TPathTreeNodeObject* object = PathNodeObject(node);
    // The node goes at once, the files on the deleter's thread. A camera's
    // scenes node stays, over an empty directory.
    const bool keepDirectory = !object->Deletable();
    FSceneDeleter->Run(
        path, [sceneDir = SceneDirOf(node), path, keepDirectory](TDeletionControl& control) {
            DeleteSceneTree(sceneDir, path, &control);
            if (keepDirectory && !control.Stopped())
                QDir().mkdir(path);
        });
    if (!keepDirectory) {
        delete node;
        return;
    }
    CollapseNode(node);
    // Nothing below is left to be read.
    object->UnreadNames().clear();
    object->SetUnread(false);
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void TExplorerFrame::DeleteFileNode(QTreeWidgetItem* node, const QString& fileName) {
    // A file that cannot be removed is left alone; its node goes all the same.
    QFile::remove(fileName);
    TPathTreeNodeObject* parent = PathNodeObject(node->parent());
    if (parent != nullptr && !HasPictures(parent->Path())) {
        parent->SetPage(nullptr);
        ShowPage(nullptr);
    }
    delete node;
}

// ---- Mark as read --------------------------------------------------------------------

void TExplorerFrame::MarkAsReadActionUpdate() {
    MarkAsReadAction->setEnabled(IsUnread(kaTreeView->currentItem()));
}

void TExplorerFrame::MarkAsReadActionExecute() {
    QTreeWidgetItem* node = kaTreeView->currentItem();
    TTreeNodeObject* object = TkaTreeView::NodeObject(node);
    if (object == nullptr)
        return;
    if (PathNodeObject(node) != nullptr)
        MarkSubtreeRead(node);
    object->SetUnread(false);
    // Upwards while nothing else beside is unread; a camera node ends the walk.
    for (QTreeWidgetItem* child = node; child->parent() != nullptr; child = child->parent()) {
        TPathTreeNodeObject* parent = PathNodeObject(child->parent());
        if (parent == nullptr || HasUnreadSibling(child))
            break;
        parent->SetUnread(false);
    }
    kaTreeView->viewport()->update();
}
