#include "EkaError.h"
#include "TempProgramDir.h"
#include "TkaProgramLayout.h"
#include "UnprivilegedScope.h"
#include "kaApplicationEvents.h"
#include "kaGeneral.h"
#include "kaLanguageFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>

namespace {

class ProgramLayoutTest : public TempProgramDir {
protected:
    // A package's tree below the temporary folder: usr/bin and usr/share/tarvik.
    QString MakePackageTree() {
        const QString usr = Folder.path() + "/usr";
        for (const char* sub : {"/bin", "/share/tarvik/Language", "/share/tarvik/Help"})
            EXPECT_TRUE(QDir().mkpath(usr + sub));
        QFile language(usr + "/share/tarvik/Language/english.ini");
        EXPECT_TRUE(language.open(QIODevice::WriteOnly));
        return usr + "/bin";
    }

    QProcessEnvironment HomeOnly() const {
        QProcessEnvironment environment;
        environment.insert("HOME", Folder.path() + "/home");
        return environment;
    }

    static QStringList TreeOf(const QString& folder) {
        QStringList entries;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries.append(it.next());
        entries.sort();
        return entries;
    }

    static int ModeOf(const QString& path) {
        struct stat status {};
        EXPECT_EQ(stat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
        return status.st_mode & 07777;
    }
};

TEST_F(ProgramLayoutTest, InstalledFoldersFollowTheXdgVariables) {
    const QString home = Folder.path() + "/home";
    struct Case {
        const char* variable;
        QString value;
        QString config, data, state;
    } cases[] = {
        {"", "", home + "/.config/Tarvik/", home + "/.local/share/Tarvik/",
         home + "/.local/state/Tarvik/"},
        {"XDG_CONFIG_HOME", "/elsewhere/cfg", "/elsewhere/cfg/Tarvik/",
         home + "/.local/share/Tarvik/", home + "/.local/state/Tarvik/"},
        {"XDG_DATA_HOME", "/big/disk/", home + "/.config/Tarvik/", "/big/disk/Tarvik/",
         home + "/.local/state/Tarvik/"},
        {"XDG_STATE_HOME", "/var/x", home + "/.config/Tarvik/", home + "/.local/share/Tarvik/",
         "/var/x/Tarvik/"},
        // Relative or empty values are not to be used.
        {"XDG_CONFIG_HOME", "relative/cfg", home + "/.config/Tarvik/",
         home + "/.local/share/Tarvik/", home + "/.local/state/Tarvik/"},
        {"XDG_DATA_HOME", "", home + "/.config/Tarvik/", home + "/.local/share/Tarvik/",
         home + "/.local/state/Tarvik/"},
    };
    for (const Case& c : cases) {
        QProcessEnvironment environment = HomeOnly();
        if (*c.variable != '\0')
            environment.insert(c.variable, c.value);
        const TkaProgramLayout layout = TkaProgramLayout::Installed("/usr/bin", environment);
        SCOPED_TRACE(std::string(c.variable) + "=" + c.value.toStdString());
        EXPECT_TRUE(layout.IsInstalled());
        EXPECT_EQ(layout.ConfigFolder(), c.config);
        EXPECT_EQ(layout.DataFolder(), c.data);
        EXPECT_EQ(layout.StateFolder(), c.state);
        EXPECT_EQ(layout.ResourceFolder(), "/usr/share/tarvik/");
        EXPECT_EQ(layout.ProgramFolder(), "/usr/bin/");
    }
}

TEST_F(ProgramLayoutTest, ChoiceFollowsTheProgramFolder) {
    const QString dist = Folder.path() + "/dist";
    ASSERT_TRUE(QDir().mkpath(dist + "/Language"));
    const QString packaged = MakePackageTree();
    const QString readOnly = Folder.path() + "/readonly";
    ASSERT_TRUE(QDir().mkpath(readOnly));
    ASSERT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
    OpenPathForEverybody(QFile::encodeName(Folder.path()).constData());

    struct Case {
        QString folder;
        TkaProgramLayout::TKind kind;
    } cases[] = {
        {dist, TkaProgramLayout::TKind::Portable},
        // Writable for root, yet the package's data lies beside it.
        {packaged, TkaProgramLayout::TKind::Installed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        const TkaProgramLayout layout = TkaProgramLayout::Choose(c.folder, HomeOnly());
        EXPECT_EQ(layout.Kind(), c.kind);
    }
    const TkaProgramLayout portable = TkaProgramLayout::Choose(dist, HomeOnly());
    EXPECT_EQ(portable.ConfigFolder(), dist + "/Cfg/");
    EXPECT_EQ(portable.DataFolder(), dist + "/");
    EXPECT_EQ(portable.StateFolder(), dist + "/");
    EXPECT_EQ(portable.ResourceFolder(), dist + "/");
    {
        // Root may write anywhere: the folder is judged by the user it runs as.
        const UnprivilegedScope nobody;
        EXPECT_TRUE(TkaProgramLayout::Choose(readOnly, HomeOnly()).IsInstalled());
    }
    chmod(QFile::encodeName(readOnly).constData(), 0755);
}

TEST_F(ProgramLayoutTest, InstalledProgramWritesOnlyIntoTheUsersFolders) {
    const QString bin = MakePackageTree();
    const QString usr = QFileInfo(bin).path();
    const QStringList packageBefore = TreeOf(usr);
    const QString home = Folder.path() + "/home";
    SetProgramLayout(TkaProgramLayout::Installed(bin, HomeOnly()));

    const QString programName = QFileInfo(ProgramFileName()).completeBaseName();
    EXPECT_EQ(ConfigFileName(), home + "/.config/Tarvik/" + programName + ".ini");
    EXPECT_EQ(ModeOf(home + "/.config/Tarvik"), 0700);
    EXPECT_EQ(ProgramSubDir("Scenes"), home + "/.local/share/Tarvik/Scenes");
    EXPECT_EQ(ProgramSubDir("Scenes/0"), home + "/.local/share/Tarvik/Scenes/0");
    EXPECT_EQ(ModeOf(home + "/.local/share/Tarvik"), 0700);
    EXPECT_EQ(ProgramDir(), home + "/.local/share/Tarvik/");
    EXPECT_EQ(ResourceDir(), usr + "/share/tarvik/");
    EXPECT_EQ(LanguageDir(), usr + "/share/tarvik/Language/");
    EXPECT_EQ(LanguageFiles(), QStringList{"english.ini"});
    EXPECT_EQ(LanguageExportDir(), home + "/.config/Tarvik/");
    EXPECT_EQ(ErrorLogFileName(), home + "/.local/state/Tarvik/" + programName + ".ERR");

    {
        // The log's folder is made by the first error.
        TkaApplicationEvents events;
        events.SetShowExceptionBox(false);
        events.LogException(std::runtime_error("disk gone"));
    }
    EXPECT_TRUE(QFileInfo(ErrorLogFileName()).isFile());
    EXPECT_EQ(ModeOf(home + "/.local/state/Tarvik"), 0700);
    EXPECT_EQ(TreeOf(usr), packageBefore);
}

TEST_F(ProgramLayoutTest, FolderThatCannotBeMadeIsAnError) {
    QFile blocker(Folder.path() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString below = Folder.path() + "/file/Tarvik";
    EXPECT_FALSE(MakeUserFolder(below));
    try {
        ForceUserFolder(below + "/");
        FAIL() << "no error";
    } catch (const EkaError& error) {
        EXPECT_EQ(error.message(), "Error creating Directory " + below);
    }
    // Several levels at once, each closed to others; an existing one stays as it is.
    const QString deep = Folder.path() + "/a/b/c";
    EXPECT_TRUE(MakeUserFolder(deep));
    EXPECT_EQ(ModeOf(Folder.path() + "/a"), 0700);
    EXPECT_EQ(ModeOf(deep), 0700);
    EXPECT_TRUE(MakeUserFolder(Folder.path()));
}

} // namespace
