#include "MailAccounts.h"

#include "TIniFile.h"
#include "TempProgramDir.h"
#include "UnprivilegedScope.h"
#include "frFeedBack.h"
#include "kaComboBox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QStringList Entries(const QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries.append(box->itemText(i));
    return entries;
}

class MailAccountsTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetMailHomeDir(PathOf("home"));
    }

    void TearDown() override {
        Frame.reset();
        SetMailHomeDir(QString());
        TempProgramDir::TearDown();
    }

    void Account(const QString& section, const QString& name, const QString& address,
                 const QString& server) {
        TIniFile ini(AccountsFileName());
        ini.WriteString(section, "Account Name", name);
        ini.WriteString(section, "POP3 Server", "pop." + name);
        ini.WriteString(section, "SMTP Email Address", address);
        ini.WriteString(section, "SMTP Server", server);
    }

    void Write(const QString& relative, const QByteArray& content) {
        const QString path = PathOf(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    TFeedbackFrame& Load() {
        Frame.reset(CreateLoaded<TFeedbackFrame>());
        return *Frame;
    }

    std::unique_ptr<TFeedbackFrame> Frame;
};

const QByteArray ThunderbirdPrefs = R"js(// Mozilla User Preferences
user_pref("mail.accountmanager.accounts", "account2,account1");
user_pref("mail.account.account1.identities", "id1");
user_pref("mail.account.account1.server", "server1");
user_pref("mail.account.account2.identities", "id2,id3");
user_pref("mail.account.account2.server", "server2");
user_pref("mail.identity.id1.useremail", "anna@home.example");
user_pref("mail.identity.id1.smtpServer", "smtp2");
user_pref("mail.identity.id2.useremail", "shop@work.example");
user_pref("mail.identity.id3.fullName", "Identity without address");
user_pref("mail.server.server1.hostname", "pop.home.example");
user_pref("mail.server.server1.name", "Home \"Anna\"");
user_pref("mail.server.server1.type", "pop3");
user_pref("mail.server.server2.hostname", "imap.work.example");
user_pref("mail.server.server2.name", "Work");
user_pref("mail.server.server2.type", "imap");
user_pref("mail.smtp.defaultserver", "smtp1");
user_pref("mail.smtpserver.smtp1.hostname", "smtp.work.example");
user_pref("mail.smtpserver.smtp2.hostname", "smtp.home.example");
user_pref("mail.smtpserver.smtp2.port", 587);
)js";

} // namespace

TEST_F(MailAccountsTest, TwoAccountsOfferTheirAddressesAndPickTheMatchingServer) {
    Account("00000001", "One", "one@first.example", "smtp.first.example");
    Account("00000002", "Reader only", "", "smtp.unused.example"); // no sender: skipped
    Account("0000000A", "Two", "two@second.example", "smtp.second.example");
    Account("00000100", "Three", "three@third.example", "smtp.first.example");
    Account("00000101", "Beyond", "beyond@example.org", "smtp.beyond.example"); // 257
    Account("Other", "Other", "other@example.org", "smtp.other.example");
    TFeedbackFrame& frame = Load();

    EXPECT_EQ(Entries(frame.FromkaComboBox),
              (QStringList{"one@first.example", "two@second.example", "three@third.example"}));
    EXPECT_EQ(Entries(frame.SMTPkaComboBox),
              (QStringList{"smtp.first.example", "smtp.second.example", "smtp.first.example"}));
    EXPECT_EQ(frame.Accounts().value(1).POP3Server, "pop.Two");
    // The first account is chosen as the user would, so it is stored.
    EXPECT_EQ(frame.FromkaComboBox->currentIndex(), 0);
    EXPECT_EQ(frame.SMTPkaComboBox->currentIndex(), 0);
    EXPECT_TRUE(frame.FromkaComboBox->Modified());
    EXPECT_TRUE(frame.SMTPkaComboBox->Modified());

    frame.FromkaComboBox->setCurrentIndex(1);
    emit frame.FromkaComboBox->activated(1);
    EXPECT_EQ(frame.SMTPkaComboBox->currentText(), "smtp.second.example");
    // The first entry with the account's server, even when another account owns it.
    frame.FromkaComboBox->setCurrentIndex(2);
    emit frame.FromkaComboBox->activated(2);
    EXPECT_EQ(frame.SMTPkaComboBox->currentIndex(), 0);

    Frame.reset();
    const TIniFile settings(ConfigFileName());
    EXPECT_EQ(settings.ReadString("String", "FeedbackFrame.FromkaComboBox", ""),
              "three@third.example");
    EXPECT_EQ(settings.ReadString("String", "FeedbackFrame.SMTPkaComboBox", ""),
              "smtp.first.example");
}

TEST_F(MailAccountsTest, ThunderbirdIdentitiesFollowTheAccountsIni) {
    Account("00000001", "Office", "office@example.org", "smtp.example.org");
    Write("home/.thunderbird/profiles.ini",
          "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default\nIsRelative=1\n"
          "Path=x1y2.default\n");
    Write("home/.thunderbird/x1y2.default/prefs.js", ThunderbirdPrefs);
    // A profile that no profiles.ini names, in the folder of the flatpak package.
    Write("home/.var/app/org.mozilla.Thunderbird/.thunderbird/a0.other/prefs.js",
          "user_pref(\"mail.identity.id1.useremail\", \"other@example.net\");\n"
          "user_pref(\"mail.identity.id1.smtpServer\", \"smtp1\");\n"
          "user_pref(\"mail.smtpserver.smtp1.hostname\", \"smtp.example.net\");\n");
    TFeedbackFrame& frame = Load();

    EXPECT_EQ(Entries(frame.FromkaComboBox),
              (QStringList{"office@example.org", "shop@work.example", "anna@home.example",
                           "other@example.net"}));
    EXPECT_EQ(Entries(frame.SMTPkaComboBox),
              (QStringList{"smtp.example.org", "smtp.work.example", "smtp.home.example",
                           "smtp.example.net"}));
    const TAccount anna = frame.Accounts().value(2);
    EXPECT_EQ(anna.AccountName, "Home \"Anna\"");
    EXPECT_EQ(anna.POP3Server, "pop.home.example");
    EXPECT_EQ(frame.Accounts().value(1).POP3Server, ""); // an IMAP account

    frame.FromkaComboBox->setCurrentIndex(2);
    emit frame.FromkaComboBox->activated(2);
    EXPECT_EQ(frame.SMTPkaComboBox->currentText(), "smtp.home.example");
}

TEST_F(MailAccountsTest, DamagedFilesAreIgnored) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) % 256));
    Write("Cfg/Accounts.ini", garbage + "\n[00000003\nSMTP Email Address=\n[0000");
    Write("home/.thunderbird/profiles.ini", garbage);
    Write("home/.thunderbird/broken/prefs.js",
          garbage + "\nuser_pref(\"mail.identity.id1.useremail\", \"unterminated);\n"
                    "user_pref(\"mail.identity.id2.useremail\" \"no comma\");\n"
                    "user_pref(\"mail.identity.id3.useremail\", \"kept@example.org\");\n"
                    "user_pref(\"mail.identity.id4.useremail\", \"\\u00");
    QDir().mkpath(PathOf("home/.thunderbird/folder/prefs.js")); // a directory, not a file
    Write("home/.thunderbird/locked/prefs.js",
          "user_pref(\"mail.identity.id1.useremail\", \"locked@example.org\");\n");
    QFile::setPermissions(PathOf("home/.thunderbird/locked/prefs.js"), QFileDevice::WriteOwner);
    OpenPathForEverybody(PathOf("home/.thunderbird").toLocal8Bit().constData());
    OpenPathForEverybody(PathOf("Cfg").toLocal8Bit().constData());

    UnprivilegedScope unprivileged;
    TFeedbackFrame& frame = Load();
    EXPECT_EQ(Entries(frame.FromkaComboBox), QStringList{"kept@example.org"});
    EXPECT_EQ(Entries(frame.SMTPkaComboBox), QStringList{""});
}
