#include "ApplicationErrors.h"
#include "EkaError.h"
#include "TkaAutostart.h"
#include "TkaAutostartAction.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        Saved = qgetenv("XDG_CONFIG_HOME");
        HadValue = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Folder.path() + "/config"));
    }
    void TearDown() override {
        if (HadValue)
            qputenv("XDG_CONFIG_HOME", Saved);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    QString Read(const QString& fileName) const {
        QFile file(fileName);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << fileName.toStdString();
        return QString::fromUtf8(file.readAll());
    }

    QTemporaryDir Folder;
    QByteArray Saved;
    bool HadValue = false;
    const TkaAutostart Entry{"tarvik", "Tarvik", "Records motion", "tarvik"};
};

TEST_F(AutostartTest, ExecValueQuotesWhatTheShellWouldSplit) {
    struct Case {
        QString program;
        QStringList arguments;
        QString exec;
    } cases[] = {
        {"/usr/bin/Tarvik", {"/Minimized"}, "/usr/bin/Tarvik /Minimized"},
        {"/opt/my cams/Tarvik", {}, R"("/opt/my cams/Tarvik")"},
        {"/x/100%/Tarvik", {}, "/x/100%%/Tarvik"},
        // In quotes a backslash escapes; the string value escapes it again.
        {R"(/x/a"b)", {}, R"("/x/a\\"b")"},
        {"/x/$HOME/T", {"it's"}, R"("/x/\\$HOME/T" "it's")"},
        {"/x/T", {""}, R"(/x/T "")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        EXPECT_EQ(TkaAutostart::ExecValue(c.program, c.arguments), c.exec);
    }
}

TEST_F(AutostartTest, EnableWritesAValidEntryAndDisableRemovesIt) {
    const QString expected = Folder.path() + "/config/autostart/tarvik.desktop";
    EXPECT_EQ(Entry.EntryFileName(), expected);
    EXPECT_FALSE(Entry.IsEnabled());
    Entry.Disable(); // nothing there: nothing to do

    Entry.Enable("/opt/my cams/Tarvik", {"/Minimized"});
    EXPECT_TRUE(Entry.IsEnabled());
    const QString text = Read(expected);
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/my cams/Tarvik\" /Minimized\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nType=Application\n"));

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate is missing (desktop-file-utils)";
    QProcess check;
    check.start(validator, {expected});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();

    Entry.Disable();
    EXPECT_FALSE(Entry.IsEnabled());
    EXPECT_FALSE(QFile::exists(expected));
}

TEST_F(AutostartTest, ActionFollowsTheEntryAndReportsWhatFails) {
    QStringList reported;
    const TApplicationErrorHandler previous =
        SetApplicationErrorHandler([&](const std::exception& error) { reported << error.what(); });
    {
        TkaAutostartAction action(nullptr, Entry, {"/Minimized"});
        action.ProgramFile = [] { return QStringLiteral("/usr/bin/Tarvik"); };
        EXPECT_TRUE(action.isCheckable());
        EXPECT_FALSE(action.isChecked());
        action.trigger();
        EXPECT_TRUE(action.isChecked());
        EXPECT_TRUE(Read(Entry.EntryFileName()).contains("\nExec=/usr/bin/Tarvik /Minimized\n"));
        action.trigger();
        EXPECT_FALSE(action.isChecked());
        EXPECT_FALSE(Entry.IsEnabled());

        // Written by hand meanwhile: the menu shows it when it opens.
        Entry.Enable("/usr/bin/Tarvik", {});
        action.Refresh();
        EXPECT_TRUE(action.isChecked());
        Entry.Disable();
        action.Refresh();

        // A file where the autostart folder belongs.
        ASSERT_TRUE(QDir(Folder.path() + "/config/autostart").removeRecursively());
        QFile blocker(Folder.path() + "/config/autostart");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        action.trigger();
        EXPECT_FALSE(action.isChecked());
    }
    SetApplicationErrorHandler(previous);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported.first().startsWith("Error writing File " + Entry.EntryFileName()))
        << reported.first().toStdString();
}

} // namespace
