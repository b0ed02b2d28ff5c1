#pragma once

#include "ApplicationErrors.h"

#include <QApplication>
#include <functional>

// The programs' application object. An error that escapes an event handler
// (a timer, a click, a paint) would otherwise unwind through Qt and end the
// process; here it goes to the application's error handler and the event
// loop carries on.
class TkaApplication : public QApplication {
    Q_OBJECT
public:
    TkaApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Runs Delivery and returns its result; an error it raises is handed to
    // HandleApplicationError and the event counts as not handled (false).
    static bool Deliver(const std::function<bool()>& delivery);
};

// Brings a top-level window back from the tray or the task bar: unminimised,
// shown, raised and activated. Null does nothing.
void BringWindowToFront(QWidget* window);
