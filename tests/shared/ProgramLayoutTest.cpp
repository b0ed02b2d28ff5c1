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
        for (QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                             QDirIterator::Subdirectories);
             it.hasNext();)
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
    QProcessEnvironment environment = HomeOnly();
    const auto installed = [&] { return TkaProgramLayout::Installed("/usr/bin", environment); };
    EXPECT_EQ(installed().ConfigFolder(), home + "/.config/Tarvik/");
    EXPECT_EQ(installed().DataFolder(), home + "/.local/share/Tarvik/");
    EXPECT_EQ(installed().StateFolder(), home + "/.local/state/Tarvik/");
    EXPECT_EQ(installed().ResourceFolder(), "/usr/share/tarvik/");
    environment.insert("XDG_DATA_HOME", "/big/disk/");
    environment.insert("XDG_CONFIG_HOME", "relative/cfg"); // relative: not to be used
    EXPECT_EQ(installed().DataFolder(), "/big/disk/Tarvik/");
    EXPECT_EQ(installed().ConfigFolder(), home + "/.config/Tarvik/");
}

TEST_F(ProgramLayoutTest, ChoiceFollowsTheProgramFolder) {
    const QString dist = Folder.path() + "/dist";
    ASSERT_TRUE(QDir().mkpath(dist + "/Language"));
    const TkaProgramLayout portable = TkaProgramLayout::Choose(dist, HomeOnly());
    EXPECT_FALSE(portable.IsInstalled());
    EXPECT_EQ(portable.ConfigFolder(), dist + "/Cfg/");
    EXPECT_EQ(portable.DataFolder(), dist + "/");
    EXPECT_EQ(portable.ResourceFolder(), dist + "/");
    // Writable for root, yet the package's data lies beside it.
    EXPECT_TRUE(TkaProgramLayout::Choose(MakePackageTree(), HomeOnly()).IsInstalled());
    // The folder is judged by the user the program runs as.
    ASSERT_EQ(chmod(QFile::encodeName(dist).constData(), 0555), 0);
    OpenPathForEverybody(QFile::encodeName(Folder.path()).constData());
    {
        const UnprivilegedScope nobody;
        EXPECT_TRUE(TkaProgramLayout::Choose(dist, HomeOnly()).IsInstalled());
    }
    chmod(QFile::encodeName(dist).constData(), 0755);
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
    EXPECT_EQ(ModeOf(home + "/.local/share/Tarvik"), 0700);
    EXPECT_EQ(ProgramDir(), home + "/.local/share/Tarvik/");
    EXPECT_EQ(ResourceDir(), usr + "/share/tarvik/");
    EXPECT_EQ(LanguageDir(), usr + "/share/tarvik/Language/");
    EXPECT_EQ(LanguageExportDir(), home + "/.config/Tarvik/");
    EXPECT_EQ(ErrorLogFileName(), home + "/.local/state/Tarvik/" + programName + ".ERR");

    {
        // The log's folder is made by the first error.
        TkaApplicationEvents events;
        events.SetShowExceptionBox(false);
        events.LogException(std::runtime_error("disk gone"));
    }
    EXPECT_TRUE(QFileInfo(ErrorLogFileName()).isFile());
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
}

} // namespace
