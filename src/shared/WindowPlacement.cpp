#include "WindowPlacement.h"

#include "TIniFile.h"
#include "kaGeneral.h"

#include <QGuiApplication>
#include <QWidget>

namespace {

constexpr int MissingPlacement = -32768;

} // namespace

void ReadWindowPlacement(QWidget& window) {
    const TIniFile ini(ConfigFileName());
    const QString section = window.objectName();
    const int top = ini.ReadInteger(section, QStringLiteral("Top"), MissingPlacement);
    if (top != MissingPlacement) {
        const int left = ini.ReadInteger(section, QStringLiteral("Left"), MissingPlacement);
        const int height = ini.ReadInteger(section, QStringLiteral("Height"), MissingPlacement);
        const int width = ini.ReadInteger(section, QStringLiteral("Width"), MissingPlacement);
        // A damaged size would make the window unusable: it keeps its default.
        const QSize size = width > 0 && height > 0 ? QSize(width, height) : window.size();
        const QRect placement(left, top, size.width(), size.height());
        // A placement on a screen that is gone would leave the window out of reach.
        if (left != MissingPlacement && QGuiApplication::screenAt(placement.center()) != nullptr)
            window.setGeometry(placement);
        else
            window.resize(size);
    }
    if (ini.ReadBool(section, QStringLiteral("Maximized"), false))
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
    if (ini.ReadBool(section, QStringLiteral("Minimized"), false))
        window.setWindowState(window.windowState() | Qt::WindowMinimized);
}

void SaveWindowPlacement(const QWidget& window, Qt::WindowStates state) {
    TIniFile ini(ConfigFileName());
    const QString section = window.objectName();
    const QRect normal =
        window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
    ini.WriteBool(section, QStringLiteral("Maximized"), state.testFlag(Qt::WindowMaximized));
    ini.WriteBool(section, QStringLiteral("Minimized"), state.testFlag(Qt::WindowMinimized));
    ini.WriteInteger(section, QStringLiteral("Top"), normal.top());
    ini.WriteInteger(section, QStringLiteral("Left"), normal.left());
    ini.WriteInteger(section, QStringLiteral("Height"), normal.height());
    ini.WriteInteger(section, QStringLiteral("Width"), normal.width());
}
