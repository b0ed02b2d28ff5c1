#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <string>

// Where in the source an error was raised. Filled by the compiler's builtins,
// which every supported compiler has (unlike std::source_location).
struct TCodeLocation {
    const char* File = "";
    const char* Function = "";
    int Line = 0;

    static constexpr TCodeLocation Current(const char* file = __builtin_FILE(),
                                           const char* function = __builtin_FUNCTION(),
                                           int line = __builtin_LINE()) noexcept {
        return TCodeLocation{file, function, line};
    }
};

// Root of the system's errors. Carries the English message text and the code
// address where the error was raised, so the error log can name both.
class EkaError : public std::exception {
public:
    explicit EkaError(const QString& message, TCodeLocation where = TCodeLocation::Current());

    const QString& message() const noexcept { return Message; }
    const char* what() const noexcept override { return Utf8Message.c_str(); }

    // Code address of the raising function relative to its module's base.
    std::uintptr_t codeAddress() const noexcept { return CodeAddress; }
    // File name of the module (executable or library) holding that address.
    const QString& moduleName() const noexcept { return ModuleName; }
    const TCodeLocation& where() const noexcept { return Where; }

    // The dynamic class name, e.g. "ENotOpen".
    QString className() const;

private:
    QString Message;
    std::string Utf8Message;
    TCodeLocation Where;
    std::uintptr_t CodeAddress = 0;
    QString ModuleName;
};
