#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <source_location>
#include <string>

// Root of the system's errors. Carries the English message text and the code
// address where the error was raised, so the error log can name both.
class EkaError : public std::exception {
public:
    explicit EkaError(const QString& message,
                      std::source_location where = std::source_location::current());

    const QString& message() const noexcept { return Message; }
    const char* what() const noexcept override { return Utf8Message.c_str(); }

    // Code address of the raising function relative to its module's base.
    std::uintptr_t codeAddress() const noexcept { return CodeAddress; }
    // File name of the module (executable or library) holding that address.
    const QString& moduleName() const noexcept { return ModuleName; }
    const std::source_location& where() const noexcept { return Where; }

    // The dynamic class name, e.g. "ENotOpen".
    QString className() const;

private:
    QString Message;
    std::string Utf8Message;
    std::source_location Where;
    std::uintptr_t CodeAddress = 0;
    QString ModuleName;
};
