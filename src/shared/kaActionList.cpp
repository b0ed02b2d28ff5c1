#include "kaActionList.h"

#include "ApplicationErrors.h"
#include "kaAction.h"

#include <QAbstractEventDispatcher>

TkaActionList::TkaActionList(QObject* parent) : QObject(parent) {
    UpdateTimer.setInterval(UpdateInterval);
    connect(&UpdateTimer, &QTimer::timeout, this, &TkaActionList::UpdateActions);
    UpdateTimer.start();
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TkaActionList::UpdateWhenIdle);
}

void TkaActionList::AddAction(TkaAction* action) {
    if (!Actions().contains(action))
        Items.append(action);
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
    // A copy of guarded pointers: an update handler may add or delete actions.
    const QList<QPointer<TkaAction>> items = Items;
    for (const QPointer<TkaAction>& action : items) {
        if (action)
            action->Update();
    }
}

void TkaActionList::UpdateWhenIdle() {
    try {
        UpdateActions();
    } catch (const std::exception& error) {
        HandleApplicationError(error);
    }
}
