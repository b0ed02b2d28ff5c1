#include "OffsiteServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString Sshd = QStringLiteral("/usr/sbin/sshd");
const QString Apache = QStringLiteral("/usr/sbin/apache2");
const QString ApacheModules = QStringLiteral("/usr/lib/apache2/modules");

bool WriteText(const QString& fileName, const QByteArray& text) {
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray ReadText(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
}

// Waits until Port accepts a connection or the process ends.
bool WaitListening(quint16 port, QProcess& process) {
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (process.state() == QProcess::NotRunning)
            return false;
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString UserName() {
    const passwd* user = ::getpwuid(::geteuid());
    return user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString();
}

// The server's output, for a failure message.
QString Output(QProcess& process, const QString& logFile) {
    return QString::fromLocal8Bit(process.readAll() + ReadText(logFile)).trimmed();
}

// The processes whose parent is Parent, from /proc.
QList<pid_t> ChildrenOf(pid_t parent) {
    QList<pid_t> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        const QByteArray stat = ReadText(QStringLiteral("/proc/%1/stat").arg(pid));
        // "pid (name) state ppid ...": the name may hold blanks, so count from its end.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == parent)
            children << pid;
    }
    return children;
}

void KillDescendants(pid_t parent) {
    for (const pid_t child : ChildrenOf(parent)) {
        KillDescendants(child);
        ::kill(child, SIGKILL);
    }
}

void StopProcess(std::unique_ptr<QProcess>& process) {
    if (process == nullptr)
        return;
    process->terminate();
    if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished(5000);
    }
    process.reset();
}

} // namespace

quint16 FreeLoopbackPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

bool RunTool(const QString& program, const QStringList& arguments, QString* why) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ran = process.waitForFinished(30000) &&
                     process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ran && why != nullptr)
        *why = program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll()) +
               process.errorString();
    return ran;
}

// ---- sshd ------------------------------------------------------------------------------

QString TSshServer::Url() const {
    return QStringLiteral("sftp://%1@127.0.0.1:%2%3").arg(UserName()).arg(FPort).arg(Root());
}

QString TSshServer::Start() {
    if (!QFileInfo::exists(Sshd))
        return QStringLiteral("OpenSSH's sshd is not installed (package openssh-server)");
    QString why;
    for (const QString& key :
         {QStringLiteral("host_key"), QStringLiteral("user_key"), QStringLiteral("other_key")})
        if (!RunTool(QStringLiteral("ssh-keygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                      QStringLiteral("-N"), QString(), QStringLiteral("-f"), FFolder + '/' + key},
                     &why))
            return why;
    QDir().mkpath(Root());
    if (::geteuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd")); // sshd's privilege separation needs it
    FPort = FreeLoopbackPort();
    const QByteArray hostKey = ReadText(FFolder + QStringLiteral("/host_key.pub")).trimmed();
    const QByteArray otherKey = ReadText(FFolder + QStringLiteral("/other_key.pub")).trimmed();
    const QByteArray host = QStringLiteral("[127.0.0.1]:%1 ").arg(FPort).toUtf8();
    const auto keyPart = [](const QByteArray& line) { return line.split(' ').mid(0, 2).join(' '); };
    QFile::copy(IdentityFile() + QStringLiteral(".pub"),
                FFolder + QStringLiteral("/authorized_keys"));
    const QByteArray config = QStringLiteral("Port %1\nListenAddress 127.0.0.1\n"
                                             "HostKey %2/host_key\n"
                                             "AuthorizedKeysFile %2/authorized_keys\n"
                                             "PasswordAuthentication no\n"
                                             "KbdInteractiveAuthentication no\n"
                                             "UsePAM no\nStrictModes no\n"
                                             "PidFile %2/sshd.pid\n"
                                             "Subsystem sftp internal-sftp\n")
                                  .arg(FPort)
                                  .arg(FFolder)
                                  .toUtf8();
    if (!WriteText(FFolder + QStringLiteral("/sshd_config"), config) ||
        !WriteText(KnownHosts(), host + keyPart(hostKey) + '\n') ||
        !WriteText(WrongKnownHosts(), host + keyPart(otherKey) + '\n'))
        return QStringLiteral("Cannot write the sshd configuration in %1").arg(FFolder);
    return Launch();
}

QString TSshServer::Launch() {
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    const QString log = FFolder + QStringLiteral("/sshd.log");
    FProcess->start(Sshd, {QStringLiteral("-D"), QStringLiteral("-f"),
                           FFolder + QStringLiteral("/sshd_config"), QStringLiteral("-E"), log});
    if (!FProcess->waitForStarted(5000) || !WaitListening(FPort, *FProcess))
        return QStringLiteral("sshd does not start: ") + Output(*FProcess, log);
    return {};
}

void TSshServer::Stop() {
    // The sessions run in processes of their own sessions: ended first, so
    // an open connection does not outlive the server.
    if (FProcess != nullptr && FProcess->processId() > 0)
        KillDescendants(pid_t(FProcess->processId()));
    StopProcess(FProcess);
}

QString TSshServer::Restart() {
    Stop();
    return Launch();
}

// ---- Apache ----------------------------------------------------------------------------

QString TDavServer::Url() const {
    return QStringLiteral("http://127.0.0.1:%1/tarvik").arg(FPort);
}

QString TDavServer::Start() {
    if (!QFileInfo::exists(Apache) ||
        !QFileInfo::exists(ApacheModules + QStringLiteral("/mod_dav_fs.so")))
        return QStringLiteral("Apache with mod_dav is not installed (package apache2-bin)");
    // Apache started by root serves as "nobody", who must reach the folders.
    for (const QString& folder :
         {FFolder, Root(), Root() + QStringLiteral("/tarvik"), FFolder + QStringLiteral("/lock")}) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::WriteOther | QFileDevice::ExeOther);
    }
    FPort = FreeLoopbackPort();
    QString modules;
    for (const char* module : {"mpm_event", "authz_core", "dav", "dav_fs"})
        modules += QStringLiteral("LoadModule %1_module %2/mod_%1.so\n")
                       .arg(QLatin1String(module), ApacheModules);
    const QByteArray config =
        (QStringLiteral("ServerRoot %1\nServerName 127.0.0.1\n").arg(FFolder) + modules +
         QStringLiteral("Listen 127.0.0.1:%2\nPidFile %1/httpd.pid\nErrorLog %1/error.log\n"
                        "DavLockDB %1/lock/DavLock\nDocumentRoot %1/www\n"
                        "User nobody\nGroup nogroup\n"
                        "<Directory %1/www>\n  Dav On\n  Require all granted\n</Directory>\n")
             .arg(FFolder)
             .arg(FPort))
            .toUtf8();
    if (!WriteText(FFolder + QStringLiteral("/httpd.conf"), config))
        return QStringLiteral("Cannot write the Apache configuration in %1").arg(FFolder);
    return Launch();
}

QString TDavServer::Launch() {
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->start(Apache, {QStringLiteral("-f"), FFolder + QStringLiteral("/httpd.conf"),
                             QStringLiteral("-DFOREGROUND")});
    if (!FProcess->waitForStarted(5000) || !WaitListening(FPort, *FProcess))
        return QStringLiteral("Apache does not start: ") +
               Output(*FProcess, FFolder + QStringLiteral("/error.log"));
    return {};
}

void TDavServer::Stop() {
    StopProcess(FProcess);
}

QString TDavServer::Restart() {
    Stop();
    return Launch();
}
