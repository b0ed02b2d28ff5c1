#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;
class TkaAction;

// A list of actions with an idle update pass: whenever the event loop is
// about to wait, and every few moments besides, each action runs its update
// handlers and saves a changed checked state. Running it when the loop goes
// idle leaves no window in which an action shows a stale enabled state. A
// list whose owner is a widget hidden on purpose (a camera page behind
// another) skips the idle turns unless one of its actions was triggered or
// the widget is shown again; the timer's pass keeps it current meanwhile.
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The idle pass is called by the event dispatcher, outside any event
    // handler: what it raises goes to the application's error handling.
    void UpdateWhenIdle();

    QList<QPointer<TkaAction>> Items;
    QTimer UpdateTimer;
    bool Updating = false;
    // The widget the list belongs to, if any, and whether a pass is owed
    // whatever that widget shows.
    QPointer<QWidget> Owner;
    bool Due = true;
};
