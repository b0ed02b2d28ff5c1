#pragma once

#include "SceneDeleter.h"

#include <QCoreApplication>
#include <QElapsedTimer>

// Runs the event loop until Deleter has finished its jobs and handed back
// what they report; false when that takes longer than TimeoutMs.
inline bool WaitForDeletions(const TSceneDeleter& deleter, int timeoutMs = 10000) {
    QElapsedTimer waited;
    waited.start();
    while (!deleter.Idle() && waited.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    QCoreApplication::processEvents();
    return deleter.Idle();
}
