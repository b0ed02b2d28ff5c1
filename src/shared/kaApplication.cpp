#include "kaApplication.h"

#include "ApplicationErrors.h"

#include <QWidget>
#include <QtGlobal>

TkaApplication::TkaApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TkaApplication::notify(QObject* receiver, QEvent* event) {
    return Deliver([&] { return QApplication::notify(receiver, event); });
}

bool TkaApplication::Deliver(const std::function<bool()>& delivery) {
    bool handled = false;
    RunHandled([&] { handled = delivery(); });
    return handled;
}

void BringWindowToFront(QWidget* window) {
    if (window == nullptr)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
}
