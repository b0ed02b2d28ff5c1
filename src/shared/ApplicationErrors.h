#pragma once

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
