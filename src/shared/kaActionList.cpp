#include "kaActionList.h"

#include "kaAction.h"

TkaActionList::TkaActionList(QObject* parent) : QObject(parent) {
    UpdateTimer.setInterval(UpdateInterval);
    connect(&UpdateTimer, &QTimer::timeout, this, &TkaActionList::UpdateActions);
    UpdateTimer.start();
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
    // A copy of guarded pointers: an update handler may add or delete actions.
    const QList<QPointer<TkaAction>> items = Items;
    for (const QPointer<TkaAction>& action : items) {
        if (action)
            action->Update();
    }
}
