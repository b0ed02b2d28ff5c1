#include "ApplicationErrors.h"

#include "EkaError.h"

#include <QtGlobal>
#include <utility>

namespace {

TApplicationErrorHandler& InstalledHandler() {
    static TApplicationErrorHandler handler;
    return handler;
}

TApplicationErrorHandler& InstalledLogger() {
    static TApplicationErrorHandler logger;
    return logger;
}

void WarnAbout(const std::exception& error) {
    if (const auto* kaError = dynamic_cast<const EkaError*>(&error))
        qWarning("%s", qUtf8Printable(kaError->message()));
    else
        qWarning("%s", error.what());
}

// Hands Error on; a handler that fails itself is left with a warning.
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

void HandleApplicationError(const std::exception& error) {
    const TApplicationErrorHandler& handler = InstalledHandler();
    if (handler)
        handler(error);
    else
        WarnAbout(error);
}

TApplicationErrorHandler SetApplicationErrorHandler(TApplicationErrorHandler handler) {
    return std::exchange(InstalledHandler(), std::move(handler));
}

void LogApplicationError(const std::exception& error) {
    const TApplicationErrorHandler& logger = InstalledLogger();
    if (logger)
        logger(error);
    else
        WarnAbout(error);
}

TApplicationErrorHandler SetApplicationErrorLogger(TApplicationErrorHandler logger) {
    return std::exchange(InstalledLogger(), std::move(logger));
}

bool RunHandled(const std::function<void()>& handler) noexcept {
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        HandOver(error);
    } catch (...) {
        HandOver(EUnknownException(QStringLiteral("Unknown exception")));
    }
    return false;
}
