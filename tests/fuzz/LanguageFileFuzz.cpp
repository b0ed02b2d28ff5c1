// libFuzzer target: activating a language file of any content either fails
// with an EkaError or leaves every message with a text of bounded length.
#include "TIniFile.h"
#include "kaGeneral.h"
#include "kaLanguageFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

// In memory where the system has it.
QTemporaryDir& Folder() {
    static QTemporaryDir folder(
        QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/language-fuzz-XXXXXX")
            : QDir::temp().filePath(QStringLiteral("language-fuzz-XXXXXX")));
    return folder;
}

TkaMessage& Message(int which) {
    static TkaMessage first(QStringLiteral("FUZZ_MSG_FIRST"), QStringLiteral("First"));
    static TkaMessage second(QStringLiteral("FUZZ_MSG_SECOND"), QStringLiteral("Second %s"));
    return which == 0 ? first : second;
}

void IgnoreMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(IgnoreMessage);
    SetProgramDir(Folder().path());
    QDir(Folder().path()).mkdir(QStringLiteral("Language"));
    Message(0).Handle();
    Message(1).Handle();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QFile file(LanguageDir() + QStringLiteral("fuzz.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    try {
        SelectLanguageByName(QStringLiteral("fuzz"));
    } catch (const EkaError&) {
        return 0;
    }
    for (int which = 0; which < 2; ++which)
        if (Message(which).Text().size() > TIniFile::MaxValueLength)
            std::abort();
    return 0;
}
