#include "kaApplicationEvents.h"

#include "TkaAtomicFile.h"
#include "TkaBoundedRead.h"
#include "TkaDialogs.h"
#include "kaApplication.h"
#include "kaGeneral.h"
#include "kaTimeText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QWidget>
#include <cstdlib>
#include <cxxabi.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>
#include <utility>

namespace {

// The programs carry the German runtime texts for the error report.
const QString ErrorTitleText = QStringLiteral("Anwendungsfehler");
const QString DescriptionTemplate = QStringLiteral("Exception %1 in Modul %2 bei %3.");
constexpr int MaxTitleLength = 63;
constexpr int MaxDescriptionLength = 1023;

const QByteArray ShowCommand = QByteArrayLiteral("show");
// A command is one short line; anything longer is not ours.
constexpr qint64 MaxCommandLength = 64;
constexpr int HandOverTimeoutMs = 2000;

TkaApplicationEvents::TExitFunction& ExitFunction() {
    static TkaApplicationEvents::TExitFunction exit;
    return exit;
}

void ExitProcess(int exitCode) {
    if (const auto& exit = ExitFunction())
        exit(exitCode);
    else
        std::exit(exitCode);
}

QStringList SplitLines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    return text.split(lineBreak);
}

QString DemangledName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return QString::fromLatin1(status == 0 && demangled ? demangled.get() : type.name());
}

QString ClassNameOf(const std::exception& error) {
    if (const auto* kaError = dynamic_cast<const EkaError*>(&error))
        return kaError->className();
    return DemangledName(typeid(error));
}

// Errors from outside the hierarchy carry no place; they are attributed to
// the program at address 0.
QString ModuleOf(const std::exception& error) {
    if (const auto* kaError = dynamic_cast<const EkaError*>(&error))
        if (!kaError->moduleName().isEmpty())
            return kaError->moduleName();
    return QFileInfo(ProgramFileName()).fileName();
}

QString CodeAddressOf(const std::exception& error) {
    const auto* kaError = dynamic_cast<const EkaError*>(&error);
    const qulonglong address = kaError != nullptr ? kaError->codeAddress() : 0;
    return QStringLiteral("%1").arg(address, 8, 16, QLatin1Char('0')).toUpper();
}

QString MessageOf(const std::exception& error) {
    if (const auto* kaError = dynamic_cast<const EkaError*>(&error))
        return kaError->message();
    return QString::fromUtf8(error.what());
}

QString WithFinalPeriod(const QString& message) {
    if (message.isEmpty() || message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

// A folder of this user alone: a directory (not a link to one) that the
// user owns and nobody else may enter.
bool IsPrivateFolder(const QString& path) {
    struct stat status {};
    if (path.isEmpty() || lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// A file this user made: no link, and no other user's file left where the
// lock belongs.
bool IsOwnFile(const QString& path) {
    struct stat status {};
    return lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_uid == geteuid();
}

// Where the single start's lock and socket live: the user's runtime folder,
// otherwise a private folder of the user's in the temporary folder. Others
// can write to neither, so no other user can keep the program from starting.
// Empty when neither can be trusted.
QString RuntimeDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(runtime))
        return QDir::cleanPath(runtime);
    const QString own = QDir::tempPath() + QStringLiteral("/tarvik-") + QString::number(geteuid());
    // An existing folder of that name is checked as a new one is.
    mkdir(QFile::encodeName(own).constData(), S_IRWXU);
    return IsPrivateFolder(own) ? own : QString();
}

// The program file's name up to its first ".", the user and a digest of the
// program directory: two installations run side by side, each once.
QString InstanceKey() {
    const QString programName =
        QFileInfo(ProgramFileName()).fileName().section(QLatin1Char('.'), 0, 0);
    const QByteArray directoryDigest =
        QCryptographicHash::hash(ProgramLayout().ProgramFolder().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(12);
    return QStringLiteral("%1-%2-%3")
        .arg(programName)
        .arg(getuid())
        .arg(QString::fromLatin1(directoryDigest));
}

void HandOverToRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(TkaApplicationEvents::SingleStartServerName());
    if (!socket.waitForConnected(HandOverTimeoutMs))
        return;
    socket.write(ShowCommand + '\n');
    socket.waitForBytesWritten(HandOverTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(HandOverTimeoutMs);
}

} // namespace

QString ErrorLogFileName() {
    return StateDir() + QFileInfo(ProgramFileName()).completeBaseName() + QStringLiteral(".ERR");
}

TkaApplicationEvents::TkaApplicationEvents(QObject* parent) : QObject(parent) {
    if (CfgIniFile() == nullptr)
        SetCfgIniFile(std::make_unique<TIniFile>(ConfigFileName()));
    LoadErrorLog();
    // What a killed run left beside the settings and the log.
    TkaAtomicFile::RemoveLeftovers(CfgIniFile()->FileName());
    TkaAtomicFile::RemoveLeftovers(ErrorLogFileName());
    PreviousHandler = SetApplicationErrorHandler(
        [self = QPointer<TkaApplicationEvents>(this)](const std::exception& error) {
            if (self)
                self->HandleException(error);
            else
                qWarning("%s", error.what());
        });
    PreviousLogger = SetApplicationErrorLogger(
        [self = QPointer<TkaApplicationEvents>(this)](const std::exception& error) {
            if (self)
                self->LogException(error);
            else
                qWarning("%s", error.what());
        });
}

TkaApplicationEvents::~TkaApplicationEvents() {
    SetApplicationErrorLogger(std::move(PreviousLogger));
    SetApplicationErrorHandler(std::move(PreviousHandler));
}

QWidget* TkaApplicationEvents::MainWindow() const {
    if (FMainWindow)
        return FMainWindow;
    return qobject_cast<QWidget*>(OwnerOf(this));
}

void TkaApplicationEvents::Loaded() {
    if (FStartOnce)
        RunSingleStartCheck();
}

// ---- Error log and error box ------------------------------------------------------

QString TkaApplicationEvents::ErrorTitle() {
    return ErrorTitleText.left(MaxTitleLength);
}

QString TkaApplicationEvents::ErrorDescription(const std::exception& error) {
    const QString description =
        DescriptionTemplate.arg(ClassNameOf(error), ModuleOf(error), CodeAddressOf(error)) +
        QLatin1Char('\n') + WithFinalPeriod(MessageOf(error));
    return description.left(MaxDescriptionLength);
}

void TkaApplicationEvents::HandleException(const std::exception& error) {
    LogException(error);
    // The box waits in an event loop where a failing timer fails again; those
    // errors are logged, not stacked up as further boxes.
    if (!FShowExceptionBox || FShowingBox)
        return;
    const QScopedValueRollback showing(FShowingBox, true);
    Dialogs().ShowError(ErrorTitle(), ErrorDescription(error));
}

void TkaApplicationEvents::LogException(const std::exception& error) {
    try {
        const QString row = DateTimeText(Now()) + QStringLiteral(" -> ") + ErrorTitle() +
                            QStringLiteral(" : ") + ErrorDescription(error);
        // Kept line by line, as the file reads back, so the limit means the
        // same before and after a restart.
        FErrorLog.append(SplitLines(row));
        const qsizetype excess = FErrorLog.size() - std::max(FMaxErrRows, 0);
        if (excess > 0)
            FErrorLog.remove(0, excess);
        WriteErrorLog();
    } catch (...) {
        // The log must never raise; the error box still follows.
    }
}

void TkaApplicationEvents::LoadErrorLog() {
    const QString fileName = ErrorLogFileName();
    if (!QFileInfo(fileName).isFile())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EErrorLogRead(QStringLiteral("Cannot open file ") + fileName);
    // A log grown beyond its bound is read from its end: the newest rows are kept.
    const bool cut = file.size() > TkaBoundedRead::MaxTextBytes;
    if (cut)
        file.seek(file.size() - TkaBoundedRead::MaxTextBytes);
    QByteArray bytes;
    QString error;
    if (!TkaBoundedRead::ReadAll(file, TkaBoundedRead::MaxTextBytes, bytes, error))
        throw EErrorLogRead(QStringLiteral("Cannot read file ") + fileName + QStringLiteral(": ") +
                            error);
    if (cut)
        bytes.remove(0, bytes.indexOf('\n') + 1);
    FErrorLog = SplitLines(QString::fromUtf8(bytes));
    // The final line break ends the last row; it does not start another.
    if (!FErrorLog.isEmpty() && FErrorLog.last().isEmpty())
        FErrorLog.removeLast();
}

void TkaApplicationEvents::WriteErrorLog() const {
    QByteArray bytes;
    for (const QString& line : FErrorLog)
        bytes += line.toUtf8() + "\r\n";
    // On a full disk the old log stays whole; the caller swallows the error.
    const QString fileName = ErrorLogFileName();
    ForceUserFolder(StateDir());
    TkaAtomicFile::Replace<EkaError>(fileName, bytes, [&](const QString& reason) {
        return QStringLiteral("Error writing File ") + fileName + QStringLiteral(": ") + reason;
    });
}

// ---- Single start ----------------------------------------------------------------

QString TkaApplicationEvents::SingleStartLockFileName() {
    const QString folder = RuntimeDirectory();
    return folder.isEmpty() ? QString()
                            : folder + QLatin1Char('/') + InstanceKey() + QStringLiteral(".lock");
}

QString TkaApplicationEvents::SingleStartServerName() {
    const QString folder = RuntimeDirectory();
    return folder.isEmpty() ? QString()
                            : folder + QLatin1Char('/') + InstanceKey() + QStringLiteral(".socket");
}

bool TkaApplicationEvents::HoldsSingleStartLock() const {
    return Lock != nullptr && Lock->isLocked();
}

TkaApplicationEvents::TExitFunction TkaApplicationEvents::SetExitFunction(TExitFunction exit) {
    return std::exchange(ExitFunction(), std::move(exit));
}

void TkaApplicationEvents::RunSingleStartCheck() {
    const QString lockName = SingleStartLockFileName();
    if (lockName.isEmpty()) {
        qWarning("No private folder for the single start: this instance does not check for "
                 "another one");
        return;
    }
    if (!TakeSingleStartLock(lockName)) {
        // No lock can be made at all: carry on as the first instance.
        Listen(false);
        return;
    }
    if (Lock != nullptr) {
        Listen(true);
        return;
    }
    HandOverToRunningInstance();
    ExitProcess(EXIT_SUCCESS);
}

bool TkaApplicationEvents::TakeSingleStartLock(const QString& lockName) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto lock = std::make_unique<QLockFile>(lockName);
        // Only a lock whose process has gone is stale, however old it is.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            Lock = std::move(lock);
            return true;
        }
        if (lock->error() != QLockFile::LockFailedError)
            return false;
        // Only a lock of this user's own means a running instance; anything
        // else in its place goes, and the lock is tried once more.
        if (IsOwnFile(lockName))
            return true;
        QFile::remove(lockName);
    }
    return false;
}

void TkaApplicationEvents::Listen(bool ownsName) {
    Server = new QLocalServer(this);
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, a socket left from a crashed run is safe to remove.
    if (ownsName)
        QLocalServer::removeServer(SingleStartServerName());
    connect(Server, &QLocalServer::newConnection, this, &TkaApplicationEvents::AcceptConnections);
    Server->listen(SingleStartServerName());
}

void TkaApplicationEvents::AcceptConnections() {
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadCommand(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        ReadCommand(socket);
    }
}

void TkaApplicationEvents::ReadCommand(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > MaxCommandLength)
            socket->abort();
        return;
    }
    const QByteArray command = socket->readLine(MaxCommandLength).trimmed();
    socket->disconnectFromServer();
    if (command == ShowCommand)
        ShowMainWindow();
}

void TkaApplicationEvents::ShowMainWindow() {
    BringWindowToFront(MainWindow());
}
