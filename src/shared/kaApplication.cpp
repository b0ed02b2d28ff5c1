#include "kaApplication.h"

#include "ApplicationErrors.h"

#include <QWidget>
#include <QtGlobal>

namespace {

// Nothing may leave notify: Qt is not built to unwind. A handler that fails
// itself is left with a warning.
void HandOver(const std::exception& error) noexcept {
    try {
        HandleApplicationError(error);
    } catch (const std::exception& failure) {
        qWarning("error handler failed: %s", failure.what());
    } catch (...) {
        qWarning("error handler failed");
    }
}

} // namespace

TkaApplication::TkaApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TkaApplication::notify(QObject* receiver, QEvent* event) {
    return Deliver([&] { return QApplication::notify(receiver, event); });
}

bool TkaApplication::Deliver(const std::function<bool()>& delivery) {
    try {
        return delivery();
    } catch (const std::exception& error) {
        HandOver(error);
    } catch (...) {
        HandOver(EUnknownException(QStringLiteral("Unknown exception")));
    }
    return false;
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
