#include "kaSceneFiles.h"

#include "DiskSpace.h"
#include "RecordingTestSupport.h"
#include "kaGeneral.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SceneFilesTest : public ::testing::Test {
protected:
    void TearDown() override { SetFreeSpaceReader({}); }

    QString Path(const QString& relative) const { return Root.path() + "/" + relative; }
    bool Exists(const QString& relative) const { return QFileInfo::exists(Path(relative)); }

    // A scene with Pictures picture files, modified DaysAgo days ago.
    void MakeScene(const QString& relative, int pictures, double daysAgo) {
        MakeDir(Path(relative));
        for (int i = 0; i < pictures; ++i)
            WriteFile(Path(relative + QString("/2024010112000000%1.jpg").arg(i)));
        SetModified(Path(relative), daysAgo);
    }

    QTemporaryDir Root;
};

TEST_F(SceneFilesTest, CountFilesCountsEveryFileButNoDirectoryOrLeftoverTemporary) {
    EXPECT_EQ(CountFiles(Path("missing")), 0);
    WriteFile(Path("s/a.jpg"));
    WriteFile(Path("s/notes.txt"));
    WriteFile(Path("s/.hidden"));
    WriteFile(Path("s/" + PictureTempName("20240101120000000.jpg")));
    MakeDir(Path("s/sub"));
    EXPECT_EQ(CountFiles(Path("s")), 3);
}

TEST_F(SceneFilesTest, PictureTemporariesAreHiddenAndNoPictures) {
    const QString temp = PictureTempName("20240101120000000.jpg");
    EXPECT_TRUE(temp.startsWith('.'));
    EXPECT_FALSE(temp.toLower().contains(".jpg"));
    EXPECT_TRUE(IsPictureTempName(temp));
    EXPECT_FALSE(IsPictureTempName(".config.tmp"));
    EXPECT_FALSE(IsPictureTempName("20240101120000000.jpg"));
}

TEST_F(SceneFilesTest, DeleteSceneTreeDeletesPicturesOnlyAndKeepsWhatHoldsOtherFiles) {
    WriteFile(Path("day/a/1.jpg"));
    WriteFile(Path("day/a/2.JPG"));
    WriteFile(Path("day/a/3.jpg.bak"));
    WriteFile(Path("day/a/" + PictureTempName("20240101120000000.jpg")));
    WriteFile(Path("day/b/1.jpg"));
    WriteFile(Path("day/b/readme.txt"));
    WriteFile(Path("day/b/deep/x.jpg"));
    WriteFile(Path("day/c/.keep.jpg"));
    MakeDir(Path("day/.hiddendir"));
    WriteFile(Path("day/.hiddendir/y.jpg"));

    DeleteSceneTree(Path("day"));
    EXPECT_FALSE(Exists("day/a")) << "pictures and leftover temporaries go, and the scene";
    EXPECT_FALSE(Exists("day/b/1.jpg"));
    EXPECT_FALSE(Exists("day/b/deep"));
    EXPECT_TRUE(Exists("day/b/readme.txt"));
    EXPECT_TRUE(Exists("day/c/.keep.jpg")) << "hidden entries are not touched";
    EXPECT_TRUE(Exists("day/.hiddendir/y.jpg"));
    EXPECT_TRUE(Exists("day"));

    DeleteSceneTree(Path("missing")); // nothing to do, no error
}

TEST_F(SceneFilesTest, DeleteSceneTreeNeverFollowsALink) {
    WriteFile(Path("outside/keep.jpg"));
    MakeDir(Path("scene"));
    ASSERT_TRUE(QFile::link(Path("outside"), Path("scene/link.jpg")));
    ASSERT_TRUE(QFile::link(Path("outside"), Path("scene/dir")));
    DeleteSceneTree(Path("scene"));
    EXPECT_TRUE(Exists("outside/keep.jpg"));
    EXPECT_FALSE(QFileInfo(Path("scene/link.jpg")).isSymLink()) << "a picture-named link goes";
    EXPECT_TRUE(QFileInfo(Path("scene/dir")).isSymLink());
}

TEST_F(SceneFilesTest, DeleteOldestSceneGoesByModificationTimeNotByName) {
    MakeScene("20240102/100000000", 1, 5);
    MakeScene("20240102/090000000", 1, 3);
    SetModified(Path("20240102"), 10);
    MakeScene("20240101/100000000", 1, 1);
    SetModified(Path("20240101"), 2);

    QString deleted;
    ASSERT_TRUE(DeleteOldestScene(Path(""), deleted));
    EXPECT_EQ(QDir::cleanPath(deleted), Path("20240102/100000000"));
    EXPECT_FALSE(Exists("20240102/100000000"));
    EXPECT_TRUE(Exists("20240102/090000000"));
}

TEST_F(SceneFilesTest, DeleteOldestSceneTakesTheFirstListedOfEqualTimes) {
    MakeScene("b/s", 1, 4);
    MakeScene("A/s", 1, 4);
    SetModified(Path("b"), 4);
    SetModified(Path("A"), 4);
    QString deleted;
    ASSERT_TRUE(DeleteOldestScene(Path(""), deleted));
    EXPECT_EQ(QDir::cleanPath(deleted), Path("A/s")) << "names sort ignoring letter case";
}

TEST_F(SceneFilesTest, DeleteOldestSceneRemovesAnEmptyDayAndReportsNothingLeft) {
    MakeDir(Path("20240101"));
    QString deleted;
    ASSERT_TRUE(DeleteOldestScene(Path(""), deleted));
    EXPECT_EQ(QDir::cleanPath(deleted), Path("20240101"));
    EXPECT_FALSE(DeleteOldestScene(Path(""), deleted));
    EXPECT_FALSE(DeleteOldestScene(Path("missing"), deleted));
}

TEST_F(SceneFilesTest, DeleteOldestSceneFailsOnASceneWithAForeignFile) {
    MakeScene("20240101/100000000", 2, 3);
    WriteFile(Path("20240101/100000000/notes.txt"));
    QString deleted;
    EXPECT_FALSE(DeleteOldestScene(Path(""), deleted));
    EXPECT_EQ(CountFiles(Path("20240101/100000000")), 1) << "its pictures are gone";
}

TEST_F(SceneFilesTest, SmallSceneSweepNeverTouchesTheNewScene) {
    MakeScene("day/080000000", 2, 0);
    MakeScene("day/090000000", 3, 0);
    MakeScene("day/100000000", 1, 0);
    SweepSmallScenes(Path("day"), Path("DAY/100000000"), 3);
    EXPECT_FALSE(Exists("day/080000000"));
    EXPECT_TRUE(Exists("day/090000000"));
    EXPECT_TRUE(Exists("day/100000000")) << "compared ignoring letter case";
}

// ---- Free space and the guard -------------------------------------------------

TEST_F(SceneFilesTest, FileSystemReadingUsesTheNearestExistingDirectory) {
    const std::optional<qint64> here = FileSystemFreeSpace(Root.path());
    ASSERT_TRUE(here.has_value());
    EXPECT_GT(*here, 0);
    const std::optional<qint64> below = FileSystemFreeSpace(Path("not/yet/there"));
    ASSERT_TRUE(below.has_value());
    EXPECT_NEAR(static_cast<double>(*below), static_cast<double>(*here), 64.0 * BytesPerMegabyte);
    EXPECT_FALSE(FileSystemFreeSpace("").has_value());
}

constexpr qint64 MB = BytesPerMegabyte;

TEST_F(SceneFilesTest, GuardWithholdsThePictureWhileSpaceIsLow) {
    MakeScene("20240101/100000000", 1, 1);
    qint64 free = 15 * MB + MB / 2;
    SetFreeSpaceReader([&](const QString&) { return free; });
    TDiskSpaceVerdict verdict = GuardDiskSpace(Path(""), 20, false, {});
    EXPECT_FALSE(verdict.Store);
    EXPECT_TRUE(verdict.Low);
    EXPECT_EQ(verdict.FreeMegabytes(), 15);
    EXPECT_TRUE(Exists("20240101/100000000")) << "deleting was not allowed";

    free = 20 * MB;
    verdict = GuardDiskSpace(Path(""), 20, false, {});
    EXPECT_TRUE(verdict.Store);
    EXPECT_FALSE(verdict.Low);
}

TEST_F(SceneFilesTest, GuardDeletesOldestScenesUntilTheMinimumIsReached) {
    MakeScene("20240102/a", 1, 1);
    MakeScene("20240102/b", 1, 6);
    SetModified(Path("20240102"), 1);
    MakeScene("20240101/c", 1, 2);
    MakeScene("20240101/d", 1, 3);
    SetModified(Path("20240101"), 5);
    // Every deleted scene frees 3 MB.
    const auto scenes = [&] {
        int count = 0;
        for (const QString& day : QDir(Root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            count += CountSubDirectories(Path(day));
        return count;
    };
    SetFreeSpaceReader([&](const QString&) { return 15 * MB + (4 - scenes()) * 3 * MB; });
    QStringList deleted;
    const TDiskSpaceVerdict verdict = GuardDiskSpace(
        Path(""), 20, true, [&](const QString& path) { deleted.append(QDir::cleanPath(path)); });
    // Deleting a scene modifies its day, so the other day is the oldest next.
    EXPECT_EQ(deleted, (QStringList{Path("20240101/d"), Path("20240102/b")}));
    EXPECT_TRUE(verdict.Store);
    EXPECT_EQ(verdict.FreeMegabytes(), 21);
}

TEST_F(SceneFilesTest, GuardRemovesAnEmptiedOldestDayOnALaterPass) {
    MakeScene("20240101/c", 1, 3);
    SetModified(Path("20240101"), 5);
    MakeScene("20240102/a", 1, 2);
    SetModified(Path("20240102"), 1);
    SetFreeSpaceReader([](const QString&) { return 1 * MB; });
    QStringList deleted;
    const TDiskSpaceVerdict verdict = GuardDiskSpace(
        Path(""), 20, true, [&](const QString& path) { deleted.append(QDir::cleanPath(path)); });
    EXPECT_FALSE(verdict.Store) << "still low when nothing is left";
    EXPECT_EQ(deleted, (QStringList{Path("20240101/c"), Path("20240102/a"), Path("20240101"),
                                    Path("20240102")}));
}

TEST_F(SceneFilesTest, GuardStopsAtASceneItCannotRemoveInsteadOfSpinning) {
    MakeScene("20240101/c", 2, 3);
    WriteFile(Path("20240101/c/notes.txt"));
    SetModified(Path("20240101/c"), 3);
    MakeScene("20240102/a", 1, 2);
    SetModified(Path("20240101"), 5);
    int readings = 0;
    SetFreeSpaceReader([&](const QString&) {
        ++readings;
        return readings < 100 ? 1 * MB : 100 * MB; // ends a runaway loop
    });
    int deletions = 0;
    const TDiskSpaceVerdict verdict =
        GuardDiskSpace(Path(""), 20, true, [&](const QString&) { ++deletions; });
    EXPECT_EQ(readings, 2);
    EXPECT_EQ(deletions, 0);
    EXPECT_FALSE(verdict.Store);
    EXPECT_TRUE(Exists("20240102/a"));
}

TEST_F(SceneFilesTest, FailedReadingIsNotALowReading) {
    MakeScene("20240101/c", 1, 3);
    SetFreeSpaceReader([](const QString&) { return std::optional<qint64>(); });
    const TDiskSpaceVerdict verdict = GuardDiskSpace(Path(""), 20, true, {});
    EXPECT_TRUE(verdict.Store);
    EXPECT_FALSE(verdict.Low);
    EXPECT_FALSE(verdict.FreeMegabytes().has_value());
    EXPECT_TRUE(Exists("20240101/c"));
}

TEST_F(SceneFilesTest, GuardWithoutSceneDirChecksNothingAndStoresNothing) {
    bool read = false;
    SetFreeSpaceReader([&](const QString&) {
        read = true;
        return 100 * MB;
    });
    EXPECT_FALSE(GuardDiskSpace("", 20, true, {}).Store);
    EXPECT_FALSE(read);
}

} // namespace
