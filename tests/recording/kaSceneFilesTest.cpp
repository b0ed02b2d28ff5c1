#include "kaSceneFiles.h"

#include "ApplicationErrors.h"
#include "DiskSpace.h"
#include "RecordingTestSupport.h"
#include "UnprivilegedScope.h"
#include "WaitForDeletions.h"
#include "kaGeneral.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

    QStringList DeleteWithGuard(int minMegabytes = 20) {
        QStringList deleted;
        // With a memory, as a camera's scene settings run the guard.
        GuardDiskSpace(
            Path(""), minMegabytes, true,
            [&](const QString& path) { deleted.append(QDir::cleanPath(path)); }, &Memory);
        return deleted;
    }

    QString DeleteOldest() {
        QString deleted;
        return DeleteOldestScene(Path(""), deleted, &Memory) ? QDir::cleanPath(deleted) : QString();
    }

    QTemporaryDir Root;
    TSceneFileMemory Memory;
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

// ---- The user's Delete ---------------------------------------------------------------

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

    EXPECT_TRUE(DeleteSceneTree(Root.path(), Path("day")));
    EXPECT_FALSE(Exists("day/a")) << "pictures and leftover temporaries go, and the scene";
    EXPECT_FALSE(Exists("day/b/1.jpg"));
    EXPECT_FALSE(Exists("day/b/deep"));
    EXPECT_TRUE(Exists("day/b/readme.txt"));
    EXPECT_TRUE(Exists("day/c/.keep.jpg")) << "hidden entries are not touched";
    EXPECT_TRUE(Exists("day/.hiddendir/y.jpg"));
    EXPECT_TRUE(Exists("day"));

    EXPECT_TRUE(DeleteSceneTree(Root.path(), Path("missing"))); // nothing to do, no error
}

TEST_F(SceneFilesTest, DeleteSceneTreeNeverFollowsALink) {
    WriteFile(Path("outside/keep.jpg"));
    MakeDir(Path("rec/scene"));
    ASSERT_TRUE(QFile::link(Path("outside"), Path("rec/scene/link.jpg")));
    ASSERT_TRUE(QFile::link(Path("outside"), Path("rec/scene/dir")));
    DeleteSceneTree(Path("rec"), Path("rec/scene"));
    EXPECT_TRUE(Exists("outside/keep.jpg"));
    EXPECT_FALSE(QFileInfo(Path("rec/scene/link.jpg")).isSymLink()) << "a picture-named link goes";
    EXPECT_TRUE(QFileInfo(Path("rec/scene/dir")).isSymLink());
}

TEST_F(SceneFilesTest, DeleteSceneTreeRefusesALinkOrAPathOutsideTheSceneDirectory) {
    WriteFile(Path("photos/holiday.jpg"));
    WriteFile(Path("rec/20240101/100000000/20240101100000000.jpg"));
    ASSERT_TRUE(QFile::link(Path("photos"), Path("rec/20240101/120000000")));

    EXPECT_FALSE(DeleteSceneTree(Path("rec"), Path("rec/20240101/120000000")));
    EXPECT_FALSE(DeleteSceneTree(Path("rec"), Path("photos")));
    EXPECT_FALSE(DeleteSceneTree(Path("rec"), Path("rec/../photos")));
    EXPECT_FALSE(DeleteSceneTree(Path("rec"), Path("rec/20240101/120000000/")))
        << "a trailing separator does not make the link a directory";
    EXPECT_TRUE(Exists("photos/holiday.jpg"));

    // The whole scene directory, through a link given as the scenes node's
    // path, is refused too; below it the recordings go.
    ASSERT_TRUE(QFile::link(Path("rec"), Path("reclink")));
    EXPECT_FALSE(DeleteSceneTree(Path("reclink"), Path("reclink")));
    EXPECT_TRUE(DeleteSceneTree(Path("reclink"), Path("reclink/20240101")));
    EXPECT_FALSE(Exists("rec/20240101/100000000"));
    EXPECT_TRUE(Exists("photos/holiday.jpg"));
}

// ---- Automatic deletions ---------------------------------------------------------------

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
    MakeScene("20240102/100000000", 1, 4);
    MakeScene("20240101/100000000", 1, 4);
    SetModified(Path("20240102"), 4);
    SetModified(Path("20240101"), 4);
    QString deleted;
    ASSERT_TRUE(DeleteOldestScene(Path(""), deleted));
    EXPECT_EQ(QDir::cleanPath(deleted), Path("20240101/100000000"));
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
    MakeScene("20240517/080000000", 2, 0);
    MakeScene("20240517/090000000", 3, 0);
    MakeScene("20240517/100000000", 1, 0);
    SweepSmallScenes(Root.path(), "20240517/100000000", 3);
    EXPECT_FALSE(Exists("20240517/080000000"));
    EXPECT_TRUE(Exists("20240517/090000000"));
    EXPECT_TRUE(Exists("20240517/100000000"));
}

// The sweep remembers scenes that were large enough, but not past a change of
// the minimum, nor for a scene that was replaced by a smaller one.
TEST_F(SceneFilesTest, SweepChecksRememberedScenesAgainWhenTheyOrTheMinimumChange) {
    MakeScene("20240517/080000000", 3, 0);
    MakeScene("20240517/090000000", 3, 0);
    MakeScene("20240517/100000000", 1, 0);
    SweepSmallScenes(Root.path(), "20240517/100000000", 3, &Memory);
    EXPECT_TRUE(Exists("20240517/080000000"));
    EXPECT_TRUE(Exists("20240517/090000000"));

    // Made beside the old one first, so it is another directory.
    MakeScene("20240517/replacement", 1, 0);
    ASSERT_TRUE(QDir(Path("20240517/080000000")).removeRecursively());
    ASSERT_TRUE(QDir().rename(Path("20240517/replacement"), Path("20240517/080000000")));
    MakeScene("20240517/110000000", 1, 0);
    SweepSmallScenes(Root.path(), "20240517/110000000", 3, &Memory);
    EXPECT_FALSE(Exists("20240517/080000000")) << "the replaced scene is counted again";
    EXPECT_TRUE(Exists("20240517/090000000"));
    EXPECT_FALSE(Exists("20240517/100000000"));

    SweepSmallScenes(Root.path(), "20240517/110000000", 4, &Memory);
    EXPECT_FALSE(Exists("20240517/090000000")) << "3 pictures are fewer than the new minimum";
    EXPECT_TRUE(Exists("20240517/110000000"));
}

// The guard remembers the oldest day's order between deletions, yet deletes
// what a fresh listing would: a scene written to since, or one added to the
// day, takes its new place.
TEST_F(SceneFilesTest, GuardWithMemoryDeletesInTheOrderOfAFreshListing) {
    MakeScene("20240101/080000000", 1, 5);
    MakeScene("20240101/090000000", 1, 4);
    MakeScene("20240101/100000000", 1, 3);
    MakeScene("20240101/110000000", 1, 2);
    SetModified(Path("20240101"), 2);
    MakeScene("20240102/080000000", 1, 1);
    SetModified(Path("20240102"), 1);

    EXPECT_EQ(DeleteOldest(), Path("20240101/080000000"));
    WriteFile(Path("20240101/090000000/20240101120000009.jpg"));
    SetModified(Path("20240101/090000000"), 1.5);
    EXPECT_EQ(DeleteOldest(), Path("20240101/100000000")) << "090000000 was written to";
    MakeScene("20240101/120000000", 1, 10);
    SetModified(Path("20240101"), 1.9); // still the older day
    EXPECT_EQ(DeleteOldest(), Path("20240101/120000000")) << "added with an old time";
    EXPECT_EQ(DeleteOldest(), Path("20240101/110000000"));
    EXPECT_EQ(DeleteOldest(), Path("20240101/090000000"));
    EXPECT_EQ(DeleteOldest(), Path("20240101"));
    EXPECT_EQ(DeleteOldest(), Path("20240102/080000000"));
}

// A scene directory the user shares with their own files, and links in it,
// loses nothing to the guard or the sweep but what the scene maker wrote.
TEST_F(SceneFilesTest, AutomaticDeletionsTouchOnlyTheRecordingLayout) {
    WriteFile(Path("photos/IMG_0001.jpg"));
    WriteFile(Path("photos/20240101120000000.jpg"));
    WriteFile(Path("rec/IMG_0002.jpg"));
    WriteFile(Path("rec/Holiday/IMG_0003.jpg"));
    WriteFile(Path("rec/.Trash-1000/files/IMG_0004.jpg"));
    WriteFile(Path("rec/2024/IMG_0005.jpg"));
    WriteFile(Path("rec/20240101/Best/IMG_0006.jpg"));
    WriteFile(Path("rec/20240101/100000000/IMG_0007.jpg"));
    WriteFile(Path("rec/20240101/100000000/20240101100000000.jpg"));
    WriteFile(Path("rec/20240101/110000000/20240101110000000.jpg"));
    ASSERT_TRUE(QFile::link(Path("photos"), Path("rec/20240102")));
    ASSERT_TRUE(QFile::link(Path("photos"), Path("rec/20240101/120000000")));
    for (const char* old : {"rec/Holiday", "rec/.Trash-1000", "rec/2024", "rec/20240101/Best"})
        SetModified(Path(old), 30);
    SetModified(Path("rec/20240101"), 20);

    SweepSmallScenes(Path("rec"), "20240101/110000000", 100);
    EXPECT_TRUE(Exists("rec/20240101/100000000/IMG_0007.jpg"));
    EXPECT_FALSE(Exists("rec/20240101/100000000/20240101100000000.jpg"));
    EXPECT_TRUE(Exists("rec/20240101/110000000/20240101110000000.jpg")) << "the new scene";

    SetFreeSpaceReader([](const QString&) { return 0; });
    const QStringList deleted = [&] {
        QStringList paths;
        GuardDiskSpace(Path("rec"), 20, true,
                       [&](const QString& path) { paths.append(QDir::cleanPath(path)); });
        return paths;
    }();
    EXPECT_EQ(deleted, QStringList{Path("rec/20240101/110000000")});
    const QStringList survivors = {"photos/IMG_0001.jpg",
                                   "photos/20240101120000000.jpg",
                                   "rec/IMG_0002.jpg",
                                   "rec/Holiday/IMG_0003.jpg",
                                   "rec/.Trash-1000/files/IMG_0004.jpg",
                                   "rec/2024/IMG_0005.jpg",
                                   "rec/20240101/Best/IMG_0006.jpg",
                                   "rec/20240101/100000000/IMG_0007.jpg"};
    for (const QString& survivor : survivors)
        EXPECT_TRUE(Exists(survivor)) << survivor.toStdString();
    EXPECT_TRUE(QFileInfo(Path("rec/20240102")).isSymLink());
    EXPECT_TRUE(QFileInfo(Path("rec/20240101/120000000")).isSymLink());
}

TEST_F(SceneFilesTest, DeleteRecordedSceneRefusesWhatTheLayoutDoesNotName) {
    WriteFile(Path("photos/20240101/100000000/20240101100000000.jpg"));
    WriteFile(Path("rec/20240101/100000000/20240101100000000.jpg"));
    EXPECT_FALSE(DeleteRecordedScene(Path("rec"), Path("photos/20240101/100000000")))
        << "a layout below another folder is not this camera's";
    EXPECT_FALSE(DeleteRecordedScene(Path("rec"), Path("rec/20240101")));
    EXPECT_TRUE(Exists("photos/20240101/100000000/20240101100000000.jpg"));
    EXPECT_TRUE(DeleteRecordedScene(Path("rec"), Path("rec/20240101/100000000")));
    EXPECT_FALSE(Exists("rec/20240101/100000000"));
}

// ---- Deleting on the deleter's thread ---------------------------------------------

// At the program's end a deletion stops between two files: what it leaves is
// a scene of whole pictures that looks as old as before, so the guard takes
// it first again.
TEST_F(SceneFilesTest, ADeletionStoppedAtTheEndLeavesTheSceneAsOldAsBefore) {
    const QString scene = Path("20240101/100000000");
    const QByteArray picture = TestPicture().JpegData();
    for (int i = 0; i < 5000; ++i)
        WriteFile(scene + QString("/2024010110%1.jpg").arg(i, 7, 10, QLatin1Char('0')), picture);
    SetModified(scene, 3);
    SetModified(Path("20240101"), 3);
    const QDateTime sceneTime = QFileInfo(scene).lastModified();
    const QDateTime dayTime = QFileInfo(Path("20240101")).lastModified();
    {
        TSceneDeleter deleter;
        deleter.Run({}, [&](TDeletionControl& control) {
            DeleteRecordedScene(Root.path(), scene, &control);
        });
        // Ends once the first picture (in name order) is gone.
        while (QFileInfo::exists(scene + "/20240101100000000.jpg"))
            std::this_thread::yield();
    }
    EXPECT_EQ(QFileInfo(Path("20240101")).lastModified(), dayTime);
    if (!Exists("20240101/100000000"))
        GTEST_SKIP() << "the deletion ended before the deleter did";
    EXPECT_EQ(QFileInfo(scene).lastModified(), sceneTime);
    for (const QString& name : ListSceneFiles(scene))
        ASSERT_EQ(QFileInfo(scene + "/" + name).size(), picture.size()) << name.toStdString();
}

TEST_F(SceneFilesTest, AFailedDeletionIsReportedOnceFromTheEventLoop) {
    const QString scene = Path("20240101/100000000");
    WriteFile(scene + "/20240101100000000.jpg");
    ASSERT_EQ(::chmod(QFile::encodeName(scene).constData(), 0555), 0);
    OpenPathForEverybody(QFile::encodeName(scene).constData());
    QStringList reported;
    TApplicationErrorHandler previous = SetApplicationErrorHandler(
        [&](const std::exception& error) { reported.append(error.what()); });
    TSceneDeleter deleter;
    {
        UnprivilegedScope nobody;
        for (int i = 0; i < 3; ++i)
            deleter.Run("guard", [&](TDeletionControl& control) {
                DeleteRecordedScene(Root.path(), scene, &control);
            });
        EXPECT_TRUE(reported.isEmpty()) << "never from the deleting thread";
        ASSERT_TRUE(WaitForDeletions(deleter));
    }
    ::chmod(QFile::encodeName(scene).constData(), 0755);
    SetApplicationErrorHandler(std::move(previous));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported[0].startsWith("Recordings could not be deleted: " + scene +
                                       "/20240101100000000.jpg: "))
        << reported[0].toStdString();
    EXPECT_TRUE(Exists("20240101/100000000/20240101100000000.jpg"));
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

// Deleting a scene must not make its day look recent: the guard uses up the
// oldest day before it touches the next, and today stays whole.
TEST_F(SceneFilesTest, GuardDeletesTheOldestScenesFirst) {
    const QStringList days = {"20240101", "20240102", "20240103"};
    const QStringList scenes = {"080000000", "090000000", "100000000"};
    for (int d = 0; d < 3; ++d) {
        for (int s = 0; s < 3; ++s)
            MakeScene(days[d] + "/" + scenes[s], 1, 3.0 - d - s * 0.1);
        SetModified(Path(days[d]), 3.0 - d - 0.2);
    }
    MakeDir(Path(".Trash-1000"));
    SetModified(Path(".Trash-1000"), 100);
    const auto remaining = [&] {
        int count = 0;
        for (const QString& day : days)
            count += CountSubDirectories(Path(day));
        return count;
    };
    // Short by five scenes of one megabyte each.
    SetFreeSpaceReader([&](const QString&) { return (20 - 5 + (9 - remaining())) * MB; });

    EXPECT_EQ(DeleteWithGuard(),
              (QStringList{Path("20240101/080000000"), Path("20240101/090000000"),
                           Path("20240101/100000000"), Path("20240101"), Path("20240102/080000000"),
                           Path("20240102/090000000")}));
    EXPECT_TRUE(Exists("20240102/100000000"));
    for (const QString& scene : scenes)
        EXPECT_TRUE(Exists("20240103/" + scene)) << "today loses nothing";
    EXPECT_TRUE(Exists(".Trash-1000")) << "a hidden folder is no day";
}

TEST_F(SceneFilesTest, GuardRemovesAnEmptiedOldestDayOnALaterPass) {
    MakeScene("20240101/100000000", 1, 3);
    SetModified(Path("20240101"), 5);
    MakeScene("20240102/100000000", 1, 2);
    SetModified(Path("20240102"), 1);
    SetFreeSpaceReader([](const QString&) { return 1 * MB; });
    EXPECT_EQ(DeleteWithGuard(), (QStringList{Path("20240101/100000000"), Path("20240101"),
                                              Path("20240102/100000000"), Path("20240102")}));
    EXPECT_FALSE(GuardDiskSpace(Path(""), 20, true, {}).Store) << "still low when nothing is left";
}

// A note of the user's (or a desktop's hidden index file) in the oldest scene
// must not stop the guard for good: that scene is emptied and passed over.
TEST_F(SceneFilesTest, GuardPassesOverASceneItCannotRemove) {
    MakeScene("20240101/100000000", 2, 3);
    WriteFile(Path("20240101/100000000/.DS_Store"));
    SetModified(Path("20240101/100000000"), 3);
    MakeScene("20240101/110000000", 1, 2.5);
    MakeScene("20240102/100000000", 1, 2);
    SetModified(Path("20240101"), 5);
    SetModified(Path("20240102"), 4);
    int readings = 0;
    SetFreeSpaceReader([&](const QString&) {
        ++readings;
        return readings < 100 ? 1 * MB : 100 * MB; // ends a runaway loop
    });
    EXPECT_EQ(DeleteWithGuard(), (QStringList{Path("20240101/110000000"),
                                              Path("20240102/100000000"), Path("20240102")}));
    EXPECT_EQ(readings, 5) << "it stops when nothing more can be removed";
    EXPECT_EQ(CountFiles(Path("20240101/100000000")), 1) << "only the note is left";

    // The next picture finds the same: nothing to delete, no endless loop.
    readings = 0;
    EXPECT_TRUE(DeleteWithGuard().isEmpty());
    EXPECT_EQ(readings, 2);
}

TEST_F(SceneFilesTest, FailedReadingIsNotALowReading) {
    MakeScene("20240101/100000000", 1, 3);
    SetFreeSpaceReader([](const QString&) { return std::optional<qint64>(); });
    const TDiskSpaceVerdict verdict = GuardDiskSpace(Path(""), 20, true, {});
    EXPECT_TRUE(verdict.Store);
    EXPECT_FALSE(verdict.Low);
    EXPECT_FALSE(verdict.FreeMegabytes().has_value());
    EXPECT_TRUE(Exists("20240101/100000000"));
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

// A small tmpfs whose inode table the recordings fill while bytes are left.
class InodeTableTest : public SceneFilesTest {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        Mount = Root.path() + "/mnt";
        MakeDir(Mount);
        if (::mount("tmpfs", QFile::encodeName(Mount).constData(), "tmpfs", 0,
                    "size=64m,nr_inodes=40") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        Mounted = true;
    }
    void TearDown() override {
        if (Mounted)
            ::umount2(QFile::encodeName(Mount).constData(), MNT_DETACH);
        SceneFilesTest::TearDown();
    }

    QString Mount;
    bool Mounted = false;
};

TEST_F(InodeTableTest, NoFreeInodesReadsAsFullAndTheGuardFreesThem) {
    const QString rec = Mount + "/rec";
    MakeDir(rec + "/20240101/100000000");
    for (int i = 0;
         QFile(rec +
               QString("/20240101/100000000/2024010110000%1.jpg").arg(i, 4, 10, QLatin1Char('0')))
             .open(QIODevice::WriteOnly);
         ++i) {
    }
    EXPECT_EQ(FileSystemFreeSpace(rec), 0) << "no inode left, megabytes left";

    const TDiskSpaceVerdict verdict = GuardDiskSpace(rec, 20, true, {});
    EXPECT_TRUE(verdict.Store);
    EXPECT_FALSE(QFileInfo::exists(rec + "/20240101/100000000"));
    EXPECT_GT(FileSystemFreeSpace(rec).value_or(0), 20 * MB);
}

// ---- Recovery at start-up --------------------------------------------------------------

TEST_F(SceneFilesTest, RecoveryNamesWholeLeftoversAndRemovesBrokenOnes) {
    const QByteArray whole = TestPicture(40, 64).JpegData();
    const QString scene = "rec/20240517/143015000/";
    WriteFile(Path(scene + "20240517143015000.jpg"), TestPicture(10).JpegData());
    WriteFile(Path(scene + PictureTempName("20240517143015000.jpg")), whole);
    WriteFile(Path(scene + PictureTempName("20240517143016000.jpg")), whole.left(whole.size() / 2));
    WriteFile(Path(scene + PictureTempName("20240517143017000.jpg")), "not a picture");
    WriteFile(Path(scene + "notes.tmp"), "kept");
    // Older scenes are not looked at: a kill can only interrupt the newest.
    WriteFile(Path("rec/20240517/080000000/" + PictureTempName("20240517080000000.jpg")), whole);
    SetModified(Path("rec/20240517/080000000"), 1);

    EXPECT_EQ(RecoverPictureTemporaries(Path("rec")), 1);
    EXPECT_EQ(ListSceneFiles(Path(scene)),
              (QStringList{"20240517143015000.jpg", "20240517143015001.jpg", "notes.tmp"}))
        << "the whole picture takes the next free name, the broken ones are gone";
    QFile recovered(Path(scene + "20240517143015001.jpg"));
    ASSERT_TRUE(recovered.open(QIODevice::ReadOnly));
    EXPECT_EQ(recovered.readAll(), whole);
    EXPECT_EQ(QDir(Path(scene)).entryList(QDir::Files | QDir::Hidden).size(), 3);
    EXPECT_TRUE(Exists("rec/20240517/080000000/" + PictureTempName("20240517080000000.jpg")));
}

TEST_F(SceneFilesTest, RecoveryFindsTheSceneWrittenLastAfterAStepOfTheClock) {
    const QByteArray whole = TestPicture(40).JpegData();
    MakeScene("rec/20240517/150000000", 1, 1);
    SetModified(Path("rec/20240517"), 1);
    // The clock stood earlier: the newest writes went to an older name.
    WriteFile(Path("rec/20240516/090000000/" + PictureTempName("20240516090000000.jpg")), whole);
    EXPECT_EQ(RecoverPictureTemporaries(Path("rec")), 1);
    EXPECT_TRUE(Exists("rec/20240516/090000000/20240516090000000.jpg"));
    EXPECT_EQ(RecoverPictureTemporaries(Path("missing")), 0);
}

} // namespace
