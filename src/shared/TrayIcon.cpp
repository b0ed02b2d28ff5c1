#include "TrayIcon.h"

#include "kaApplication.h"
#include "kaComponent.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), Tray(new QSystemTrayIcon(this)) {
    connect(Tray, &QSystemTrayIcon::activated, this, &TTrayIcon::Activated);
}

void TTrayIcon::SetActive(bool value) {
    if (value == FActive)
        return;
    FActive = value;
    Tray->setVisible(value);
}

void TTrayIcon::SetIcon(const QIcon& icon) {
    if (icon.cacheKey() == FIcon.cacheKey())
        return;
    FIcon = icon;
    Tray->setIcon(FIcon);
}

void TTrayIcon::SetToolTip(const QString& text) {
    QString tip = text.left(MaxToolTipLength);
    // Never keep half of a character that needs two code units.
    if (!tip.isEmpty() && tip.back().isHighSurrogate())
        tip.chop(1);
    FToolTip = tip;
    Tray->setToolTip(FToolTip);
}

QMenu* TTrayIcon::PopupMenu() const {
    return FPopupMenu;
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    FPopupMenu = menu;
    Tray->setContextMenu(menu);
}

QWidget* TTrayIcon::OwnerWindow() const {
    auto* owner = qobject_cast<QWidget*>(OwnerOf(this));
    if (owner == nullptr)
        owner = qobject_cast<QWidget*>(parent());
    return owner != nullptr ? owner->window() : nullptr;
}

bool TTrayIcon::TrayAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTrayIcon::HideOwner() {
    QWidget* window = OwnerWindow();
    if (window == nullptr)
        return;
    if (FActive && TrayAvailable())
        window->hide();
    else
        window->showMinimized();
}

void TTrayIcon::BringOwnerBack() {
    BringWindowToFront(OwnerWindow());
}

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        BringOwnerBack();
        emit OnDblClick();
        break;
    case QSystemTrayIcon::Context:
        // The platform opens the context menu itself.
        emit OnRightClick(QCursor::pos());
        break;
    default:
        // A single click or a middle click does nothing.
        break;
    }
}
