#pragma once

#include "kaComponent.h"

#include <QString>
#include <QWidget>

class QTreeWidgetItem;

// Base of every page shown beside the explorer tree. A page is attached to one
// or many tree nodes through their node objects and is told which node it shows.
class TTreeNodeFrame : public QWidget, public TkaLoadable {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

public:
    // Owner decides the settings and translation keys; Parent only places the
    // page. A page without owner is freed by the node object that shows it.
    explicit TTreeNodeFrame(QObject* owner, QWidget* parent = nullptr);

    // The node shown at the moment; not owned.
    QTreeWidgetItem* Node() const { return FNode; }
    virtual void SetNode(QTreeWidgetItem* node);

    // A shared page serves many nodes and is never freed by a node object.
    bool Shared() const { return FShared; }
    void SetShared(bool value);

    // The frame's text, kept as the widget's window title.
    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& value) { setWindowTitle(value); }

    // Pages extend this with their own "after loading" work.
    void Loaded() override {}

protected:
    // Lays Panel out centred in the page, which never shrinks below it (the
    // layout never places it at a negative position).
    void CentrePanel(QWidget* panel);

private:
    QTreeWidgetItem* FNode = nullptr;
    bool FShared = false;
};
