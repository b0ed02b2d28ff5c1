#include "kaGeneral.h"

#include "EkaError.h"
#include "THourGlass.h"
#include "TempProgramDir.h"
#include "TkaHashList.h"
#include "UnprivilegedScope.h"
#include "kaTimeText.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <gtest/gtest.h>

namespace {

using KaGeneralTest = TempProgramDir;

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST_F(KaGeneralTest, IncludeBackslashAppendsOneSeparator) {
    EXPECT_EQ(IncludeBackslash("/data"), "/data/");
    EXPECT_EQ(IncludeBackslash("/data/"), "/data/");
    EXPECT_EQ(IncludeBackslash(""), "/");
}

TEST_F(KaGeneralTest, ProgramSubDirCreatesOneLevelOnly) {
    EXPECT_TRUE(Dir().endsWith('/'));
    try {
        ProgramSubDir("Scenes/0");
        FAIL() << "no error";
    } catch (const EkaError& e) {
        EXPECT_EQ(e.message(), "Error creating Directory " + Dir() + "Scenes/0");
    }
    EXPECT_EQ(ProgramSubDir("Scenes"), Dir() + "Scenes");
    EXPECT_EQ(ProgramSubDir("Scenes/0"), Dir() + "Scenes/0");
    EXPECT_TRUE(QFileInfo(Dir() + "Scenes/0").isDir());
    EXPECT_EQ(ProgramSubDir("Scenes/0"), Dir() + "Scenes/0"); // existing: unchanged
}

TEST_F(KaGeneralTest, ProgramSubDirOverAFileFails) {
    Touch(PathOf("Mask"));
    EXPECT_THROW(ProgramSubDir("Mask"), EkaError);
}

TEST_F(KaGeneralTest, ConfigFileNameCreatesCfg) {
    const QString name = ConfigFileName();
    EXPECT_TRUE(QFileInfo(Dir() + "Cfg").isDir());
    EXPECT_TRUE(name.startsWith(Dir() + "Cfg/"));
    EXPECT_TRUE(name.endsWith(QFileInfo(ProgramFileName()).completeBaseName() + ".ini"));
    EXPECT_FALSE(QFileInfo::exists(name)); // the file only at the first write
}

TEST_F(KaGeneralTest, ListingsAreSortedIgnoringCaseWithHiddenEntries) {
    QDir(Dir()).mkdir("d");
    QDir(Dir()).mkdir("sub");
    QDir(Dir()).mkdir(".hiddendir");
    QDir(Dir() + "sub").mkdir("inner");
    for (const char* name : {"b.jpg", "A.jpg", "c.JPG", ".hidden", "a.txt"})
        Touch(PathOf(QStringLiteral("d/") + name));
    QStringList names{"kept"};
    ListFileNames(PathOf("d"), names);
    EXPECT_EQ(names, (QStringList{"kept", ".hidden", "A.jpg", "a.txt", "b.jpg", "c.JPG"}));

    QStringList none;
    ListFileNames(PathOf("sub"), none);
    ListFileNames(PathOf("missing"), none);
    EXPECT_TRUE(none.isEmpty());

    EXPECT_EQ(CountSubDirectories(Dir()), 4); // Cfg, d, sub, .hiddendir
    EXPECT_EQ(CountSubDirectories(PathOf("d")), 0);
    EXPECT_EQ(CountSubDirectories(PathOf("missing")), 0);
}

TEST_F(KaGeneralTest, DateTimeCountsDaysSince1899) {
    EXPECT_EQ(DateTimeToQDateTime(0.0), QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::LocalTime));
    EXPECT_EQ(DateTimeToQDateTime(2.25), QDateTime(QDate(1900, 1, 1), QTime(6, 0), Qt::LocalTime));
    EXPECT_EQ(DateTimeToQDateTime(-1.25),
              QDateTime(QDate(1899, 12, 29), QTime(6, 0), Qt::LocalTime));
    const QDateTime t(QDate(2026, 12, 9), QTime(13, 45, 7, 123), Qt::LocalTime);
    EXPECT_EQ(DateTimeToQDateTime(QDateTimeToDateTime(t)), t);
    EXPECT_DOUBLE_EQ(QDateTimeToDateTime(QDateTime(QDate(1900, 1, 1), QTime(12, 0), Qt::LocalTime)),
                     2.5);
    // Just before midnight rounds to the next day, not to 24:00.
    EXPECT_EQ(DateTimeToQDateTime(3.0 - 1e-10),
              QDateTime(QDate(1900, 1, 2), QTime(0, 0), Qt::LocalTime));
}

TEST_F(KaGeneralTest, ClockSeam) {
    SetClock([] { return 46000.5; });
    EXPECT_DOUBLE_EQ(Now(), 46000.5);
    SetClock({});
    EXPECT_NEAR(Now(), QDateTimeToDateTime(QDateTime::currentDateTime()), 1.0 / 86400);
}

TEST_F(KaGeneralTest, TypedSettingsUseTheComponentPathAndRaiseWithoutFile) {
    QObject form;
    QObject edit;
    SetOwner(&form, nullptr, "Form");
    SetOwner(&edit, &form, "Edit");
    WriteStringSetting(&edit, "text");
    WriteIntegerSetting(&edit, 42);
    WriteBoolSetting(&edit, true);
    WriteComponentSetting(&form, "SceneDir", "/x");
    EXPECT_EQ(CfgIniFile()->ReadString("String", "form.edit", ""), "text");
    EXPECT_EQ(ReadIntegerSetting(&edit, 0), 42);
    EXPECT_TRUE(ReadBoolSetting(&edit, false));
    EXPECT_EQ(ReadStringSetting(&edit, ""), "text");
    EXPECT_EQ(ReadComponentSetting(&form, "scenedir", ""), "/x");
    EXPECT_EQ(CfgIniFile()->ReadString("Form", "SceneDir", ""), "/x");

    SetCfgIniFile(nullptr);
    try {
        ReadIntegerSetting(&edit, 0);
        FAIL() << "no error";
    } catch (const EkaError& e) {
        EXPECT_EQ(e.message(), "kaGeneral.CfgIniFile=nil");
    }
    EXPECT_THROW(WriteBoolSetting(&edit, true), EkaError);
    EXPECT_THROW(ReadComponentSetting(&form, "k", ""), EkaError);
    EXPECT_THROW(WriteComponentSetting(&form, "k", ""), EkaError);
}

TEST_F(KaGeneralTest, ReadOnlyCfgFolderGivesTheNamedError) {
    QObject edit;
    SetOwner(&edit, nullptr, "Edit");
    const QString cfg = Dir() + "Cfg";
    OpenPathForEverybody(Folder.path().toLocal8Bit().constData());
    QFile::setPermissions(cfg, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                   QFileDevice::ReadOther | QFileDevice::ExeOther);
    {
        UnprivilegedScope nobody;
        try {
            WriteStringSetting(&edit, "x");
            ADD_FAILURE() << "no error";
        } catch (const EkaError& e) {
            EXPECT_TRUE(e.message().contains(ConfigFileName())) << e.message().toStdString();
        }
    }
    QFile::setPermissions(cfg,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(KaGeneralTest, MessageRegistryKeepsHandlesInRegistrationOrder) {
    const int a = RegisterMessage("FRVIDEO_MSG_LASTMOTION", "Last Motion");
    const int b = RegisterMessage("FRVIDEO_MSG_PICTURETIME", "Last Picture");
    const int c = RegisterMessage("FRVIDEO_MSG_LASTMOTION", "Last Motion");
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, b + 1); // the same key twice is two entries
    EXPECT_EQ(MessageText(b), "Last Picture");
    MessageRegistry().SetText(a, "Letzte Bewegung");
    EXPECT_EQ(MessageText(a), "Letzte Bewegung");
    EXPECT_EQ(MessageText(c), "Last Motion");
    EXPECT_THROW(MessageText(99), EkaError);
}

TEST_F(KaGeneralTest, ExclusionListHoldsEachComponentOnce) {
    QObject a;
    QObject b;
    EXPECT_FALSE(IsExcludedFromLanguage(&a));
    ExcludeFromLanguage(&a);
    ExcludeFromLanguage(&a);
    EXPECT_TRUE(IsExcludedFromLanguage(&a));
    EXPECT_FALSE(IsExcludedFromLanguage(&b));
    IncludeInLanguage(&a);
    EXPECT_FALSE(IsExcludedFromLanguage(&a)); // once listed, once removed
}

TEST_F(KaGeneralTest, HourGlassNestsAndRestoresTheCursorBefore) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
    THourGlass& h = HourGlass();
    ASSERT_EQ(h.Count(), 0);
    h.Increment();
    h.Increment();
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    h.Decrement();
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    h.Decrement();
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    try {
        h.Decrement();
        FAIL() << "no error";
    } catch (const EkaError& e) {
        EXPECT_EQ(e.message(), "THourGlass.SetCount=-1");
    }
    EXPECT_EQ(h.Count(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    {
        THourGlassScope busy;
        EXPECT_EQ(h.Count(), 1);
    }
    EXPECT_EQ(h.Count(), 0);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace

namespace {

TEST(KaTimeTextTest, ShowsDateAndLongTimeWithoutZoneName) {
    const QLocale previous;
    const double time = QDateTimeToDateTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(DateTimeText(time), "05.03.24 14:07:09");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(DateTimeText(time), "3/5/24 2:07:09 PM");
    QLocale::setDefault(previous);
    // A quoted "t" is text of the format, not the zone.
    EXPECT_EQ(TimeFormatWithoutZone("HH'h'mm 'at' t"), "HH'h'mm 'at'");
}

TEST(HasSwitchTest, AnyLeadAnyCaseNeverTheProgramName) {
    for (const QString& found : {"/Minimized", "-minimized", "\\MINIMIZED"})
        EXPECT_TRUE(HasSwitch({"Tarvik", "/ExportLanguage", found}, "/Minimized"))
            << found.toStdString();
    for (const QString& other : {"Minimized", "/Minimize", "/"})
        EXPECT_FALSE(HasSwitch({"Tarvik", other}, "/Minimized")) << other.toStdString();
    EXPECT_FALSE(HasSwitch({"/Minimized"}, "/Minimized")); // the program's own name
}

} // namespace
