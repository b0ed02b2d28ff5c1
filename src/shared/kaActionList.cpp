#include "kaActionList.h"

#include "ApplicationErrors.h"
#include "kaAction.h"

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QWidget>

TkaActionList::TkaActionList(QObject* parent) : QObject(parent) {
    UpdateTimer.setInterval(UpdateInterval);
    connect(&UpdateTimer, &QTimer::timeout, this, &TkaActionList::UpdateActions);
    UpdateTimer.start();
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TkaActionList::UpdateWhenIdle);
    Owner = qobject_cast<QWidget*>(parent);
    if (Owner != nullptr)
        Owner->installEventFilter(this);
}

void TkaActionList::AddAction(TkaAction* action) {
    if (Actions().contains(action))
        return;
    Items.append(action);
    // What an action does may change what the others offer.
    connect(action, &QAction::triggered, this, [this] { Due = true; });
    connect(action, &QAction::toggled, this, [this] { Due = true; });
}

QList<TkaAction*> TkaActionList::Actions() const {
    QList<TkaAction*> alive;
    for (const QPointer<TkaAction>& action : Items) {
        if (action)
            alive.append(action.data());
    }
    return alive;
}

void TkaActionList::UpdateActions() {
    if (Updating)
        return;
    Updating = true;
    struct TEndPass {
        bool& Flag;
        ~TEndPass() { Flag = false; }
    } endPass{Updating};
    Due = false;
    // A copy of guarded pointers: an update handler may add or delete actions.
    const QList<QPointer<TkaAction>> items = Items;
    for (const QPointer<TkaAction>& action : items) {
        if (action)
            action->Update();
    }
}

bool TkaActionList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Owner && event->type() == QEvent::Show)
        Due = true;
    return QObject::eventFilter(watched, event);
}

void TkaActionList::UpdateWhenIdle() {
    // Only a widget hidden on purpose (a page behind another) is passed over;
    // one that was never shown or hidden keeps every idle turn.
    if (!Due && Owner != nullptr && Owner->isHidden() &&
        Owner->testAttribute(Qt::WA_WState_ExplicitShowHide))
        return;
    try {
        UpdateActions();
    } catch (const std::exception& error) {
        HandleApplicationError(error);
    }
}
