#pragma once

#include "EkaError.h"

#include <QString>
#include <QUrl>

// Raised when a picture cannot be copied to the off-site target; the message
// names the target without its password.
class EOffsiteCopy : public EkaError {
public:
    using EkaError::EkaError;
};

enum class TOffsiteKind { None, Sftp, WebDav, LocalFolder };

// Where the off-site copies go and how to log in there. Parse() takes the
// address as the user gives it: sftp://user@host[:port]/folder,
// https://host/path (WebDAV; http:// as well, for a server on the same
// machine) or file:///folder.
struct TOffsiteTarget {
    TOffsiteKind Kind = TOffsiteKind::None;
    // The address without user information, query or fragment.
    QUrl Base;
    QString User;
    QString Password;
    // Private key for SFTP; its public half is looked for beside it (".pub").
    QString IdentityFile;
    // Host keys an SFTP server must match, as OpenSSH keeps them.
    QString KnownHostsFile;

    // Why Text cannot be a target, or an empty text. Fills this target.
    QString Parse(const QString& text);
    bool IsValid() const { return Kind != TOffsiteKind::None; }
    // The address as it may be shown and logged: no password, no query.
    QString Display() const;
    // The folder of a local target.
    QString LocalFolder() const { return Base.toLocalFile(); }

    // ~/.ssh/known_hosts of the user running the program.
    static QString DefaultKnownHostsFile();
};

// Text without password, query and fragment; what cannot be parsed at all is
// cut after the scheme so nothing secret leaks.
QString MaskedOffsiteAddress(const QString& text);

// The path on the target of a stored picture: the name of the camera's scene
// folder, then the day, the scene and the picture, joined by "/". Empty when
// FileName does not lie three levels below SceneDir.
QString OffsiteRelativePath(const QString& sceneDir, const QString& fileName);

// True for a relative path of plain names: no empty, "." or ".." segment, no
// leading "/", no backslash. Journal entries are checked with it.
bool IsSafeRelativePath(const QString& path);
