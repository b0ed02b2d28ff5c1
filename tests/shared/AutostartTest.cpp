#include "ApplicationErrors.h"
#include "EkaError.h"
#include "TkaAutostart.h"
#include "TkaAutostartAction.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Each test with an autostart folder of its own ($XDG_CONFIG_HOME/autostart).
class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Folder.path() + "/config"));
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    static QString Read(const QString& fileName) {
        QFile file(fileName);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << fileName.toStdString();
        return QString::fromUtf8(file.readAll());
    }

    QTemporaryDir Folder;
    const TkaAutostart Entry{"tarvik", "Tarvik", "Records motion", "tarvik"};
};

TEST_F(AutostartTest, ExecValueQuotesWhatTheShellWouldSplit) {
    EXPECT_EQ(TkaAutostart::ExecValue("/usr/bin/Tarvik", {"/Minimized"}),
              "/usr/bin/Tarvik /Minimized");
    EXPECT_EQ(TkaAutostart::ExecValue("/opt/my cams/T", {}), R"("/opt/my cams/T")");
    EXPECT_EQ(TkaAutostart::ExecValue("/x/100%/T", {}), "/x/100%%/T");
    // In quotes a backslash escapes; the string value escapes it again.
    EXPECT_EQ(TkaAutostart::ExecValue("/x/$HOME/T", {"it's", ""}), R"("/x/\\$HOME/T" "it's" "")");
}

TEST_F(AutostartTest, EnableWritesAValidEntryAndDisableRemovesIt) {
    const QString expected = Folder.path() + "/config/autostart/tarvik.desktop";
    EXPECT_EQ(Entry.EntryFileName(), expected);
    Entry.Disable(); // nothing there: nothing to do
    Entry.Enable("/opt/my cams/Tarvik", {"/Minimized"});
    EXPECT_TRUE(Entry.IsEnabled());
    EXPECT_TRUE(Read(expected).contains("\nExec=\"/opt/my cams/Tarvik\" /Minimized\n"));
    QProcess check;
    check.start("desktop-file-validate", {expected});
    ASSERT_TRUE(check.waitForFinished(30000)) << "desktop-file-validate (desktop-file-utils)";
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
    Entry.Disable();
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
