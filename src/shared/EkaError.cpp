#include "EkaError.h"

#include <QFileInfo>
#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <memory>
#include <typeinfo>

// Not inlined, so the return address lies in the function that raises the error.
[[gnu::noinline]] EkaError::EkaError(const QString& message, TCodeLocation where)
    : Message(message), Utf8Message(message.toStdString()), Where(where) {
    void* caller = __builtin_return_address(0);
    Dl_info info{};
    if (dladdr(caller, &info) != 0 && info.dli_fbase != nullptr) {
        CodeAddress = reinterpret_cast<std::uintptr_t>(caller) -
                      reinterpret_cast<std::uintptr_t>(info.dli_fbase);
        if (info.dli_fname != nullptr)
            ModuleName = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).fileName();
    } else {
        CodeAddress = reinterpret_cast<std::uintptr_t>(caller);
    }
}

QString EkaError::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    return QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
}
