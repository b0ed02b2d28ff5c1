#pragma once

#include <QProcess>
#include <QString>
#include <memory>

// Real servers for the off-site tests, each in its own folder, listening on a
// free port of 127.0.0.1 only. Start() returns an empty text, or why the
// server cannot run here (the test then skips with that text).

// A port of 127.0.0.1 that was free a moment ago.
quint16 FreeLoopbackPort();

// OpenSSH's sshd with its internal SFTP server, its own host key and a key
// login for the user running the tests.
class TSshServer {
public:
    explicit TSshServer(QString folder) : FFolder(std::move(folder)) {}
    ~TSshServer() { Stop(); }

    QString Start();
    void Stop();
    // Starts again on the same port with the same keys.
    QString Restart();

    quint16 Port() const { return FPort; }
    // Where the uploads go (absolute), and the address of that folder.
    QString Root() const { return FFolder + QStringLiteral("/root"); }
    QString Url() const;
    QString IdentityFile() const { return FFolder + QStringLiteral("/user_key"); }
    // A known_hosts file holding this server's key, and one holding another.
    QString KnownHosts() const { return FFolder + QStringLiteral("/known_hosts"); }
    QString WrongKnownHosts() const { return FFolder + QStringLiteral("/wrong_known_hosts"); }

private:
    QString Launch();

    QString FFolder;
    quint16 FPort = 0;
    std::unique_ptr<QProcess> FProcess;
};

// Apache with mod_dav serving a folder for WebDAV over plain HTTP.
class TDavServer {
public:
    explicit TDavServer(QString folder) : FFolder(std::move(folder)) {}
    ~TDavServer() { Stop(); }

    QString Start();
    void Stop();
    QString Restart();

    QString Root() const { return FFolder + QStringLiteral("/www"); }
    QString Url() const;

private:
    QString Launch();

    QString FFolder;
    quint16 FPort = 0;
    std::unique_ptr<QProcess> FProcess;
};

// Runs a program to its end; false (with its output in Why) when it fails.
bool RunTool(const QString& program, const QStringList& arguments, QString* why = nullptr);
