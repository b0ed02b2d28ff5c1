#include "TkaAtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int MaxLinkDepth = 40;
constexpr int MaxNameAttempts = 100;

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The end of FileName's chain of symbolic links; FileName itself when it is
// no link or the chain does not end.
QString ResolveLinks(const QString& fileName) {
    QFileInfo info(fileName);
    for (int depth = 0; depth < MaxLinkDepth && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? fileName : info.absoluteFilePath();
}

constexpr int SuffixLength = 6;

bool IsSuffix(QStringView text) {
    return text.size() == SuffixLength && std::all_of(text.begin(), text.end(), [](QChar c) {
               return c.unicode() < 128 && c.isLetterOrNumber();
           });
}

QString RandomSuffix() {
    static const char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QString suffix;
    for (int i = 0; i < SuffixLength; ++i)
        suffix += QLatin1Char(Digits[QRandomGenerator::global()->bounded(62)]);
    return suffix;
}

// Makes the rename itself durable. The new content is in place already when
// this fails, so there is nothing left to keep or report.
void SyncDirectory(const QString& directory) {
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    static_cast<void>(::fsync(fd));
    ::close(fd);
}

} // namespace

TkaAtomicFile::TkaAtomicFile(QString fileName) : Name(std::move(fileName)) {}

TkaAtomicFile::~TkaAtomicFile() {
    if (!Committed)
        Discard();
}

bool TkaAtomicFile::Fail(const QString& what, const QString& reason) {
    Failed = true;
    Error = what.isEmpty() ? reason : what + QStringLiteral(": ") + reason;
    Discard();
    return false;
}

bool TkaAtomicFile::Open() {
    if (Temporary.isOpen() || Failed || Committed)
        return Fail(QStringLiteral("opened twice"), Name);
    Target = ResolveLinks(Name);
    const QFileInfo target(Target);
    const QString directory = target.absolutePath();
    // Hidden, so listings of the folder pass over it; beside the file, so the
    // rename stays on one file system and is atomic.
    const QString prefix = directory + QStringLiteral("/.") + target.fileName() + QLatin1Char('.');
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        Temporary.setFileName(prefix + RandomSuffix());
        // Unbuffered: each write reaches the system at once and reports its own failure.
        if (Temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            Created = true;
            break;
        }
        if (!QFileInfo::exists(Temporary.fileName()))
            return Fail(QStringLiteral("cannot create a file in ") + directory,
                        Temporary.errorString());
    }
    if (!Temporary.isOpen())
        return Fail(QStringLiteral("cannot create a file in ") + directory,
                    QStringLiteral("no free temporary name"));
    // The replacement keeps the permissions of the file it replaces.
    struct stat old {};
    if (::stat(QFile::encodeName(Target).constData(), &old) == 0 &&
        ::fchmod(Temporary.handle(), old.st_mode & 07777) != 0)
        return Fail(QStringLiteral("cannot set the permissions of ") + Temporary.fileName(),
                    SystemReason(errno));
    return true;
}

bool TkaAtomicFile::Write(const QByteArray& data) {
    if (Failed)
        return false; // the first failure's reason stays
    if (!Temporary.isOpen())
        return Fail(QString(), QStringLiteral("the file is not open"));
    if (Temporary.write(data) != data.size() || Temporary.error() != QFileDevice::NoError)
        return Fail(QString(), Temporary.errorString());
    return true;
}

bool TkaAtomicFile::Commit() {
    if (Failed)
        return false; // the first failure's reason stays
    if (!Temporary.isOpen())
        return Fail(QString(), QStringLiteral("the file is not open"));
    if (!Temporary.flush() || Temporary.error() != QFileDevice::NoError)
        return Fail(QString(), Temporary.errorString());
    // Some file systems report a full disk or a lost device only here.
    if (::fsync(Temporary.handle()) != 0)
        return Fail(QString(), SystemReason(errno));
    Temporary.close();
    if (Temporary.error() != QFileDevice::NoError)
        return Fail(QString(), Temporary.errorString());
    if (::rename(QFile::encodeName(Temporary.fileName()).constData(),
                 QFile::encodeName(Target).constData()) != 0)
        return Fail(QStringLiteral("cannot rename ") + Temporary.fileName(), SystemReason(errno));
    Committed = true;
    SyncDirectory(QFileInfo(Target).absolutePath());
    return true;
}

void TkaAtomicFile::Discard() {
    // Only our own temporary: a name that we failed to create is someone else's.
    if (Committed || !Created)
        return;
    Temporary.close();
    static_cast<void>(QFile::remove(Temporary.fileName()));
    Created = false;
}

void TkaAtomicFile::RemoveLeftovers(const QString& fileName) {
    const QFileInfo target(ResolveLinks(fileName));
    const QDir directory = target.absoluteDir();
    const QString prefix = QStringLiteral(".") + target.fileName() + QLatin1Char('.');
    const QStringList hidden =
        directory.entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : hidden) {
        if (name.startsWith(prefix) && IsSuffix(QStringView(name).mid(prefix.size())))
            static_cast<void>(QFile::remove(directory.filePath(name)));
    }
}
