#include "THourGlass.h"

#include "EkaError.h"

#include <QCursor>
#include <QGuiApplication>

void THourGlass::SetCount(int value) {
    if (value < 0)
        throw EkaError(QStringLiteral("THourGlass.SetCount=") + QString::number(value));
    if (value == FCount)
        return;
    // The override-cursor stack keeps the cursor that was in effect before.
    const bool haveGui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (FCount == 0 && haveGui)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    if (value == 0 && haveGui)
        QGuiApplication::restoreOverrideCursor();
    FCount = value;
}

THourGlass& HourGlass() {
    static THourGlass instance;
    return instance;
}
