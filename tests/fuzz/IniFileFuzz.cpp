// libFuzzer target: any settings file reads without harm, and a key written
// into it reads back as written, the file's other sections kept.
#include "TIniFile.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

// In memory where the system has it: every write of the store is synced.
QString FileName() {
    static const QString name =
        QDir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                       : QDir::tempPath())
            .filePath(QStringLiteral("ini-fuzz-%1.ini").arg(::getpid()));
    return name;
}

bool Write(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!Write(FileName(), bytes))
        std::abort();
    TIniFile ini(FileName());
    const QStringList sections = ini.ReadSections();
    for (const QString& section : sections) {
        for (const auto& [key, value] : ini.ReadSectionValues(section))
            if (value.size() > TIniFile::MaxValueLength || key.isNull())
                std::abort();
    }
    ini.WriteString(QStringLiteral("Fuzz"), QStringLiteral("Key"), QStringLiteral("Value"));
    if (ini.ReadString(QStringLiteral("Fuzz"), QStringLiteral("Key"), QString()) !=
        QStringLiteral("Value"))
        std::abort();
    for (const QString& section : sections)
        if (!ini.SectionExists(section))
            std::abort();
    QFile::remove(FileName());
    return 0;
}
