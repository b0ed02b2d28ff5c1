#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class TkaAction;

// A list of actions with an idle update pass: whenever the event loop is
// about to wait, and every few moments besides, each action runs its update
// handlers and saves a changed checked state. Running it when the loop goes
// idle leaves no window in which an action shows a stale enabled state.
class TkaActionList : public QObject {
    Q_OBJECT
public:
    static constexpr int UpdateInterval = 250; // ms

    explicit TkaActionList(QObject* parent = nullptr);

    // Adds Action once; the list does not take ownership.
    void AddAction(TkaAction* action);
    // The actions still alive, in the order they were added.
    QList<TkaAction*> Actions() const;

    // One update pass over all actions. A pass started from inside another
    // (an update handler that opens a dialog) does nothing.
    void UpdateActions();

private:
    // The idle pass is called by the event dispatcher, outside any event
    // handler: what it raises goes to the application's error handling.
    void UpdateWhenIdle();

    QList<QPointer<TkaAction>> Items;
    QTimer UpdateTimer;
    bool Updating = false;
};
