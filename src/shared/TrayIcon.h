#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

// One icon with a tooltip in the notification area. A double click brings the
// owning window back; a right click opens PopupMenu. The owner is the form
// that owns the component (or, without one, the widget it is parented to).
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // The notification area shows at most this many characters of a tooltip.
    static constexpr int MaxToolTipLength = 62;

    explicit TTrayIcon(QObject* parent = nullptr);

    // The icon is in the notification area.
    bool Active() const { return FActive; }
    void SetActive(bool value);

    const QIcon& Icon() const { return FIcon; }
    void SetIcon(const QIcon& icon);

    const QString& ToolTip() const { return FToolTip; }
    // Keeps at most the first MaxToolTipLength characters.
    void SetToolTip(const QString& text);

    // The menu a right click opens; not owned.
    QMenu* PopupMenu() const;
    void SetPopupMenu(QMenu* menu);

    // The window the icon stands for, or null.
    QWidget* OwnerWindow() const;

    // Hides the owner window to the notification area. Where the desktop has
    // no notification area, or the icon is not active, the window is
    // minimised instead, so that it can always be found again.
    void HideOwner();

    // Shows the owner window in front, from hidden or minimised.
    void BringOwnerBack();

    QSystemTrayIcon* SystemTrayIcon() const { return Tray; }

signals:
    // After a double click has brought the owner back.
    void OnDblClick();
    // After a right click, with the cursor's screen position.
    void OnRightClick(QPoint position);

protected:
    // Whether the desktop offers a notification area.
    virtual bool TrayAvailable() const;

private:
    void Activated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon* Tray;
    bool FActive = false;
    QIcon FIcon;
    QString FToolTip;
    QPointer<QMenu> FPopupMenu;
};
