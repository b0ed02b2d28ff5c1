#pragma once

#include "EkaError.h"

#include <exception>
#include <functional>

// Where an error goes that no caller handles: event handlers catch what they
// cannot let escape into Qt and hand it here. The application-events component
// installs its own handler (error log and message box); until then the message
// is only written as a warning.
using TApplicationErrorHandler = std::function<void(const std::exception& error)>;

void HandleApplicationError(const std::exception& error);

// Installs Handler for the process; an empty one restores the warning.
// Returns the previous handler.
TApplicationErrorHandler SetApplicationErrorHandler(TApplicationErrorHandler handler);

// Where an error goes that the user already sees in place (a picture page that
// says its file cannot be read): it is only written to the error log. The
// application-events component installs the log writer; until then the message
// is only written as a warning.
void LogApplicationError(const std::exception& error);

// Installs Logger for the process; an empty one restores the warning.
// Returns the previous logger.
TApplicationErrorHandler SetApplicationErrorLogger(TApplicationErrorHandler logger);

// What reaches an event handler's guard without being a std::exception.
class EUnknownException : public EkaError {
public:
    using EkaError::EkaError;
};

// The one policy for event handlers: runs Handler; whatever it raises goes to
// HandleApplicationError (an error that is no std::exception as well), and
// a failure of that handler itself becomes a warning. Nothing leaves, so Qt
// never unwinds. True when Handler ran to its end.
bool RunHandled(const std::function<void()>& handler) noexcept;
