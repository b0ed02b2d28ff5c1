#include "MailAccounts.h"

#include "EkaError.h"
#include "TIniFile.h"
#include "TkaBoundedRead.h"
#include "kaGeneral.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace {

constexpr int LastAccountNumber = 256;
// A prefs.js of a real profile is far smaller; anything bigger is not read.
constexpr qint64 MaxPrefsSize = 16 * 1024 * 1024;

QString HomeSetting;

using TPrefs = QHash<QString, QString>;

// ---- prefs.js -------------------------------------------------------------------

// Reads the lines user_pref("name", value); of a prefs.js. A string value is
// unescaped, any other value kept as written; a damaged line is skipped.
class TPrefsParser {
public:
    explicit TPrefsParser(const QString& line) : Text(line) {}

    bool Parse(QString& name, QString& value) {
        SkipSpace();
        if (!Take(QStringLiteral("user_pref")))
            return false;
        SkipSpace();
        if (!Take(QStringLiteral("(")) || !String(name))
            return false;
        SkipSpace();
        if (!Take(QStringLiteral(",")))
            return false;
        SkipSpace();
        if (At() == QLatin1Char('"')) {
            if (!String(value))
                return false;
        } else {
            const qsizetype end = Text.indexOf(QLatin1Char(')'), Position);
            if (end < 0)
                return false;
            value = Text.mid(Position, end - Position).trimmed();
            Position = end;
        }
        SkipSpace();
        return Take(QStringLiteral(")"));
    }

private:
    QChar At() const { return Position < Text.size() ? Text.at(Position) : QChar(); }

    void SkipSpace() {
        while (Position < Text.size() && Text.at(Position).isSpace())
            ++Position;
    }

    bool Take(const QString& word) {
        if (!Text.mid(Position, word.size()).startsWith(word))
            return false;
        Position += word.size();
        return true;
    }

    bool Hex(int digits, QString& value) {
        if (Position + digits > Text.size())
            return false;
        bool ok = false;
        const uint code = Text.mid(Position, digits).toUInt(&ok, 16);
        if (!ok)
            return false;
        value += QChar(static_cast<char16_t>(code));
        Position += digits;
        return true;
    }

    bool String(QString& value) {
        value.clear();
        if (!Take(QStringLiteral("\"")))
            return false;
        while (Position < Text.size()) {
            const QChar c = Text.at(Position++);
            if (c == QLatin1Char('"'))
                return true;
            if (c != QLatin1Char('\\')) {
                value += c;
                continue;
            }
            if (Position >= Text.size())
                return false;
            const QChar escaped = Text.at(Position++);
            switch (escaped.unicode()) {
            case 'n':
                value += QLatin1Char('\n');
                break;
            case 't':
                value += QLatin1Char('\t');
                break;
            case 'r':
                value += QLatin1Char('\r');
                break;
            case 'u':
                if (!Hex(4, value))
                    return false;
                break;
            case 'x':
                if (!Hex(2, value))
                    return false;
                break;
            default:
                value += escaped;
                break;
            }
        }
        return false;
    }

    const QString& Text;
    qsizetype Position = 0;
};

TPrefs ReadPrefs(const QString& fileName) {
    TPrefs prefs;
    const QFileInfo info(fileName);
    if (!info.isFile() || info.size() > MaxPrefsSize)
        return prefs;
    QFile file(fileName);
    QByteArray bytes;
    QString error;
    if (!file.open(QIODevice::ReadOnly) ||
        !TkaBoundedRead::ReadAll(file, MaxPrefsSize, bytes, error))
        return prefs;
    const QString text = QString::fromUtf8(bytes);
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    for (const QString& line : text.split(lineBreak)) {
        QString name;
        QString value;
        if (TPrefsParser(line).Parse(name, value))
            prefs.insert(name, value);
    }
    return prefs;
}

QStringList List(const TPrefs& prefs, const QString& name) {
    QStringList items;
    for (const QString& item : prefs.value(name).split(QLatin1Char(',')))
        if (!item.trimmed().isEmpty())
            items.append(item.trimmed());
    return items;
}

// The identity keys (id1, id2, ...) that have an address, in natural order.
QStringList IdentityKeys(const TPrefs& prefs) {
    static const QRegularExpression pattern(
        QStringLiteral("^mail\\.identity\\.([^.]+)\\.useremail$"));
    QStringList keys;
    for (auto it = prefs.cbegin(); it != prefs.cend(); ++it) {
        const QRegularExpressionMatch match = pattern.match(it.key());
        if (match.hasMatch())
            keys.append(match.captured(1));
    }
    std::sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return keys;
}

TAccount Identity(const TPrefs& prefs, const QString& identity, const QString& server) {
    const QString prefix = QStringLiteral("mail.identity.") + identity + QLatin1Char('.');
    QString smtpKey = prefs.value(prefix + QStringLiteral("smtpServer"));
    if (smtpKey.isEmpty())
        smtpKey = prefs.value(QStringLiteral("mail.smtp.defaultserver"));
    const QString serverPrefix = QStringLiteral("mail.server.") + server + QLatin1Char('.');
    TAccount account;
    account.SMTPEmailAddress = prefs.value(prefix + QStringLiteral("useremail")).trimmed();
    account.SMTPServer =
        prefs.value(QStringLiteral("mail.smtpserver.") + smtpKey + QStringLiteral(".hostname"))
            .trimmed();
    if (!server.isEmpty() &&
        prefs.value(serverPrefix + QStringLiteral("type")) == QStringLiteral("pop3"))
        account.POP3Server = prefs.value(serverPrefix + QStringLiteral("hostname"));
    account.AccountName =
        server.isEmpty() ? QString() : prefs.value(serverPrefix + QStringLiteral("name"));
    if (account.AccountName.isEmpty())
        account.AccountName = prefs.value(prefix + QStringLiteral("fullName"));
    if (account.AccountName.isEmpty())
        account.AccountName = account.SMTPEmailAddress;
    return account;
}

// ---- Profiles -------------------------------------------------------------------

// Where Thunderbird keeps its profiles: its own folder, and those of the snap
// and flatpak packages.
const QStringList ThunderbirdRoots = {
    QStringLiteral(".thunderbird"), QStringLiteral("snap/thunderbird/common/.thunderbird"),
    QStringLiteral(".var/app/org.mozilla.Thunderbird/.thunderbird")};

void AddProfileFolders(const QString& root, QStringList& folders) {
    const QString profilesIni = root + QStringLiteral("/profiles.ini");
    if (QFileInfo(profilesIni).isFile()) {
        const TIniFile ini(profilesIni);
        for (const QString& section : ini.ReadSections()) {
            const QString path = ini.ReadString(section, QStringLiteral("Path"), QString());
            if (path.isEmpty())
                continue;
            const bool relative = ini.ReadBool(section, QStringLiteral("IsRelative"), true);
            folders.append(relative ? root + QLatin1Char('/') + path : path);
        }
    }
    for (const QString& name : SortedDirectoryEntries(root, QDir::Dirs))
        folders.append(root + QLatin1Char('/') + name);
}

QStringList ProfileFolders(const QString& home) {
    QStringList folders;
    for (const QString& root : ThunderbirdRoots)
        AddProfileFolders(IncludeBackslash(home) + root, folders);
    // One profile named twice (profiles.ini and its folder) is read once.
    QStringList unique;
    QSet<QString> seen;
    for (const QString& folder : folders) {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        unique.append(folder);
    }
    return unique;
}

} // namespace

QString AccountsFileName() {
    return ProgramLayout().ConfigFolder() + QStringLiteral("Accounts.ini");
}

QList<TAccount> ReadAccountsIni(const QString& fileName) {
    QList<TAccount> accounts;
    if (!QFileInfo(fileName).isFile())
        return accounts;
    const TIniFile ini(fileName);
    for (int number = 1; number <= LastAccountNumber; ++number) {
        const QString section = QStringLiteral("%1").arg(number, 8, 16, QLatin1Char('0')).toUpper();
        if (!ini.SectionExists(section))
            continue;
        TAccount account;
        account.SMTPEmailAddress =
            ini.ReadString(section, QStringLiteral("SMTP Email Address"), QString()).trimmed();
        if (account.SMTPEmailAddress.isEmpty())
            continue;
        account.AccountName = ini.ReadString(section, QStringLiteral("Account Name"), QString());
        account.POP3Server = ini.ReadString(section, QStringLiteral("POP3 Server"), QString());
        account.SMTPServer =
            ini.ReadString(section, QStringLiteral("SMTP Server"), QString()).trimmed();
        accounts.append(account);
    }
    return accounts;
}

QList<TAccount> ReadThunderbirdPrefs(const QString& prefsFileName) {
    const TPrefs prefs = ReadPrefs(prefsFileName);
    QList<TAccount> accounts;
    QSet<QString> done;
    const auto add = [&](const QString& identity, const QString& server) {
        if (done.contains(identity))
            return;
        done.insert(identity);
        TAccount account = Identity(prefs, identity, server);
        if (!account.SMTPEmailAddress.isEmpty())
            accounts.append(account);
    };
    for (const QString& account : List(prefs, QStringLiteral("mail.accountmanager.accounts"))) {
        const QString prefix = QStringLiteral("mail.account.") + account + QLatin1Char('.');
        const QString server = prefs.value(prefix + QStringLiteral("server"));
        for (const QString& identity : List(prefs, prefix + QStringLiteral("identities")))
            add(identity, server);
    }
    // Identities no account lists still carry an address the user owns.
    for (const QString& identity : IdentityKeys(prefs))
        add(identity, QString());
    return accounts;
}

QList<TAccount> ReadThunderbirdAccounts(const QString& home) {
    QList<TAccount> accounts;
    for (const QString& folder : ProfileFolders(home))
        accounts.append(ReadThunderbirdPrefs(folder + QStringLiteral("/prefs.js")));
    return accounts;
}

QString MailHomeDir() {
    return HomeSetting.isEmpty() ? QDir::homePath() : HomeSetting;
}

void SetMailHomeDir(const QString& home) {
    HomeSetting = home;
}

QList<TAccount> CollectMailAccounts() {
    QList<TAccount> accounts;
    // A file that cannot be read is no account; the page still works by hand.
    try {
        accounts.append(ReadAccountsIni(AccountsFileName()));
    } catch (const EkaError&) {
    }
    try {
        accounts.append(ReadThunderbirdAccounts(MailHomeDir()));
    } catch (const EkaError&) {
    }
    return accounts;
}
