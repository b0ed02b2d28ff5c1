#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class TkaAction;

// A list of actions with an idle update pass: every few moments each action
// runs its update handlers and saves a changed checked state.
class TkaActionList : public QObject {
    Q_OBJECT
public:
    static constexpr int UpdateInterval = 250; // ms

    explicit TkaActionList(QObject* parent = nullptr);

    // Adds Action once; the list does not take ownership.
    void AddAction(TkaAction* action);
    // The actions still alive, in the order they were added.
    QList<TkaAction*> Actions() const;

    // One update pass over all actions.
    void UpdateActions();

private:
    QList<QPointer<TkaAction>> Items;
    QTimer UpdateTimer;
};
