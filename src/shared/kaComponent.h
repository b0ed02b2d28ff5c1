#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

// The component model: every component is a QObject named by objectName(),
// owned by the form or frame that created it. Ownership is recorded apart from
// the Qt parent, because settings keys and translations follow ownership while
// widget parents follow the visual nesting.

// A component with an "after loading" step. Forms and frames build their
// components and set their designed properties in the constructor; the loader
// then runs the owned components' steps in creation order, then the owner's own.
class TkaLoadable {
public:
    virtual ~TkaLoadable() = default;
    virtual void Loaded() = 0;
};

// Records Owner as the owner of Component (appended to Owner's owned list) and
// names it. A null Owner starts a chain of its own. Returns Component.
QObject* SetOwner(QObject* component, QObject* owner, const QString& name);

template <class T> T* Own(QObject* owner, T* component, const QString& name) {
    SetOwner(component, owner, name);
    return component;
}

QObject* OwnerOf(const QObject* component);

// Components owned by Owner, in creation order.
QList<QObject*> OwnedComponents(const QObject* owner);

// Names of the component and its owners, outermost first, joined with "."; empty
// names contribute nothing.
QString ComponentPath(const QObject* component);

// True from construction until the component's loaded step has run; components
// created into an owner that has loaded already never load.
bool IsLoading(const QObject* component);

// Runs the "after loading" steps of Root's owned components (depth first, in
// creation order), then Root's own. Called once by whoever creates a form or a
// frame that has no owner; frames owned by a form are loaded with the form.
void LoadComponent(QObject* root);

// Creates a top-level form or frame and runs its loading steps. One whose
// loading fails is freed again (its windows and tray icon go with it).
template <class T, class... Args> T* CreateLoaded(Args&&... args) {
    std::unique_ptr<T> object(new T(std::forward<Args>(args)...));
    LoadComponent(object.get());
    return object.release();
}
