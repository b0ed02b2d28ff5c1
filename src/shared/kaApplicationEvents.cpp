#include "kaApplicationEvents.h"

#include "TkaAtomicFile.h"
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

QString RuntimeDirectory() {
    // Without XDG_RUNTIME_DIR Qt would warn and invent one; the temporary
    // folder serves as well, since the names carry the user.
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty())
            return runtime;
    }
    return QDir::tempPath();
}

// The program file's name up to its first ".", the user and a digest of the
// program directory: two installations run side by side, each once.
QString InstanceKey() {
    const QString programName =
        QFileInfo(ProgramFileName()).fileName().section(QLatin1Char('.'), 0, 0);
    const QByteArray directoryDigest =
        QCryptographicHash::hash(ProgramDir().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
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
    return ProgramDir() + QFileInfo(ProgramFileName()).completeBaseName() + QStringLiteral(".ERR");
}

TkaApplicationEvents::TkaApplicationEvents(QObject* parent) : QObject(parent) {
    if (CfgIniFile() == nullptr)
        SetCfgIniFile(std::make_unique<TIniFile>(ConfigFileName()));
    LoadErrorLog();
    PreviousHandler = SetApplicationErrorHandler(
        [self = QPointer<TkaApplicationEvents>(this)](const std::exception& error) {
            if (self)
                self->HandleException(error);
            else
                qWarning("%s", error.what());
        });
}

TkaApplicationEvents::~TkaApplicationEvents() {
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
    FErrorLog = SplitLines(QString::fromUtf8(file.readAll()));
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
    TkaAtomicFile::Replace<EkaError>(fileName, bytes, [&](const QString& reason) {
        return QStringLiteral("Error writing File ") + fileName + QStringLiteral(": ") + reason;
    });
}

// ---- Single start ----------------------------------------------------------------

QString TkaApplicationEvents::SingleStartLockFileName() {
    return RuntimeDirectory() + QLatin1Char('/') + InstanceKey() + QStringLiteral(".lock");
}

QString TkaApplicationEvents::SingleStartServerName() {
    return RuntimeDirectory() + QLatin1Char('/') + InstanceKey() + QStringLiteral(".socket");
}

bool TkaApplicationEvents::HoldsSingleStartLock() const {
    return Lock != nullptr && Lock->isLocked();
}

TkaApplicationEvents::TExitFunction TkaApplicationEvents::SetExitFunction(TExitFunction exit) {
    return std::exchange(ExitFunction(), std::move(exit));
}

void TkaApplicationEvents::RunSingleStartCheck() {
    Lock = std::make_unique<QLockFile>(SingleStartLockFileName());
    // Only a lock whose process has gone is stale, however old it is.
    Lock->setStaleLockTime(0);
    if (Lock->tryLock(0)) {
        Listen(true);
        return;
    }
    const bool heldByAnother = Lock->error() == QLockFile::LockFailedError;
    Lock.reset();
    if (!heldByAnother) {
        // No lock can be made at all: carry on as the first instance.
        Listen(false);
        return;
    }
    HandOverToRunningInstance();
    ExitProcess(EXIT_SUCCESS);
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
