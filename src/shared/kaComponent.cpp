#include "kaComponent.h"

#include <QHash>
#include <QPointer>
#include <algorithm>

namespace {

struct OwnershipEntry {
    QObject* Owner = nullptr;
    // The path of an owner that died before this component: owned components
    // are often destroyed after their owner's entry is gone, and must still
    // write their settings under their full path.
    QString DetachedPrefix;
    QList<QObject*> Owned;
    bool Loaded = false;
};

// Process-wide record of owners and their components; entries vanish with
// their objects.
class OwnershipRegistry {
public:
    static OwnershipRegistry& instance() {
        static OwnershipRegistry registry;
        return registry;
    }

    OwnershipEntry& entry(QObject* object) {
        auto it = Entries.find(object);
        if (it == Entries.end()) {
            it = Entries.insert(object, OwnershipEntry{});
            QObject::connect(object, &QObject::destroyed, [this, object] { forget(object); });
        }
        return *it;
    }

    const OwnershipEntry* find(const QObject* object) const {
        auto it = Entries.constFind(const_cast<QObject*>(object));
        return it == Entries.constEnd() ? nullptr : &*it;
    }

    void setOwner(QObject* component, QObject* owner) {
        OwnershipEntry& own = entry(component);
        if (own.Owner == owner)
            return;
        if (own.Owner != nullptr)
            entry(own.Owner).Owned.removeOne(component);
        own.Owner = owner;
        own.DetachedPrefix.clear();
        if (owner != nullptr)
            entry(owner).Owned.append(component);
    }

private:
    void forget(QObject* object) {
        auto it = Entries.find(object);
        if (it == Entries.end())
            return;
        const OwnershipEntry gone = *it;
        const QString path = ComponentPath(object);
        Entries.erase(it);
        if (gone.Owner != nullptr) {
            auto owner = Entries.find(gone.Owner);
            if (owner != Entries.end())
                owner->Owned.removeOne(object);
        }
        for (QObject* orphan : gone.Owned) {
            auto child = Entries.find(orphan);
            if (child != Entries.end()) {
                child->Owner = nullptr;
                child->DetachedPrefix = path;
            }
        }
    }

    QHash<QObject*, OwnershipEntry> Entries;
};

} // namespace

QObject* SetOwner(QObject* component, QObject* owner, const QString& name) {
    component->setObjectName(name);
    OwnershipRegistry::instance().setOwner(component, owner);
    return component;
}

QObject* OwnerOf(const QObject* component) {
    const OwnershipEntry* e = OwnershipRegistry::instance().find(component);
    return e ? e->Owner : nullptr;
}

QList<QObject*> OwnedComponents(const QObject* owner) {
    const OwnershipEntry* e = OwnershipRegistry::instance().find(owner);
    return e ? e->Owned : QList<QObject*>{};
}

QString ComponentPath(const QObject* component) {
    QStringList names;
    for (const QObject* c = component; c != nullptr;) {
        if (!c->objectName().isEmpty())
            names.prepend(c->objectName());
        const OwnershipEntry* e = OwnershipRegistry::instance().find(c);
        if (e == nullptr)
            break;
        if (e->Owner == nullptr && !e->DetachedPrefix.isEmpty())
            names.prepend(e->DetachedPrefix);
        c = e->Owner;
    }
    return names.join(QLatin1Char('.'));
}

bool IsLoading(const QObject* component) {
    // Loading lasts until the component's loaded step; a component created later
    // into an owner that has already loaded was never loading at all.
    const OwnershipEntry* e = OwnershipRegistry::instance().find(component);
    if (e == nullptr)
        return false;
    if (e->Loaded)
        return false;
    return e->Owner == nullptr || IsLoading(e->Owner);
}

void LoadComponent(QObject* root) {
    // Copy: a loaded step may create further components.
    const QList<QObject*> owned = OwnedComponents(root);
    for (QObject* c : owned)
        LoadComponent(c);
    OwnershipRegistry::instance().entry(root).Loaded = true;
    if (auto* loadable = dynamic_cast<TkaLoadable*>(root))
        loadable->Loaded();
}
