#include "kaSceneMaker.h"

#include "RecordingTestSupport.h"
#include "TempProgramDir.h"
#include "kaGeneral.h"
#include "kaSceneFiles.h"

#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {

// Writes beyond Bytes fail as on a full disk, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : Previous(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &Saved);
        rlimit limited = Saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, Previous);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    void (*Previous)(int);
    rlimit Saved{};
};

class SceneMakerTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetClock([this] { return Clock; });
        Clock = LocalTime(2024, 5, 17, 14, 30, 15, 250);
        Maker = std::make_unique<TkaSceneMaker>();
        Maker->OnNewScene = [this](QObject* sender, const QString& sPath) {
            EXPECT_EQ(sender, Maker.get());
            Announced.append(sPath);
        };
    }
    void TearDown() override {
        Maker.reset();
        TempProgramDir::TearDown();
    }

    QString Scenes() const { return PathOf("Scenes"); }
    QString Add(int shade = 100) { return Maker->AddPicture(TestPicture(shade)); }
    void Advance(double seconds) { Clock += seconds / 86400.0; }
    static QStringList Entries(const QString& dir) {
        return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                   QDir::Name);
    }

    double Clock = 0;
    std::unique_ptr<TkaSceneMaker> Maker;
    QStringList Announced;
};

TEST_F(SceneMakerTest, StartsWithTheDefaultDirectoryAndNoOpenScene) {
    EXPECT_EQ(Maker->SceneDir(), Scenes());
    EXPECT_TRUE(QFileInfo(Scenes()).isDir());
    EXPECT_TRUE(Maker->CurrentSceneDir().isEmpty());
    EXPECT_DOUBLE_EQ(Maker->LastPictureTime(), Clock - 1.0);
    EXPECT_EQ(Maker->SecondsBeforeNewScene(), 60);
    EXPECT_EQ(Maker->MaxPicturePerScene(), 500);
}

TEST_F(SceneMakerTest, ConstructionFailsWhenTheDefaultDirectoryCannotBeCreated) {
    Maker.reset();
    QDir(Scenes()).removeRecursively();
    WriteFile(Scenes()); // a file where the directory should be
    try {
        TkaSceneMaker maker;
        FAIL() << "no error";
    } catch (const EkaError& error) {
        EXPECT_EQ(error.message(), "Error creating Directory " + Scenes());
    }
}

TEST_F(SceneMakerTest, FirstPictureBeginsASceneAndTheSecondJoinsIt) {
    const TJPEGImage first = TestPicture(10);
    EXPECT_EQ(Maker->AddPicture(first), "20240517/143015250");
    EXPECT_EQ(Announced, QStringList{"20240517/143015250"});
    const QString scene = Scenes() + "/20240517/143015250";
    EXPECT_EQ(Maker->CurrentSceneDir(), scene);
    QFile file(scene + "/20240517143015250.jpg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), first.JpegData()) << "the picture's own bytes, nothing else";

    Advance(1);
    EXPECT_EQ(Add(), "");
    EXPECT_EQ(Announced.size(), 1);
    EXPECT_EQ(Maker->PictureCount(), 2);
    EXPECT_EQ(Entries(scene), (QStringList{"20240517143015250.jpg", "20240517143016250.jpg"}))
        << "no temporary file is left beside the pictures";
}

TEST_F(SceneMakerTest, PauseIsRoundedToWholeSecondsBeforeItIsCompared) {
    Maker->SetSecondsBeforeNewScene(5);
    Add();
    Advance(5.0);
    EXPECT_EQ(Add(), "") << "exactly the limit keeps the scene";
    Advance(5.4);
    EXPECT_EQ(Add(), "") << "5.4 s rounds to 5";
    Advance(5.6);
    EXPECT_EQ(Add(), "20240517/143031250") << "5.6 s rounds to 6";
    Advance(6.0);
    EXPECT_EQ(Add(), "20240517/143037250");
    EXPECT_EQ(Announced.size(), 3);
    // The pause is measured from the previous picture, not from the scene's start.
    for (int i = 0; i < 20; ++i) {
        Advance(4);
        EXPECT_EQ(Add(), "");
    }
}

TEST_F(SceneMakerTest, PictureLimitBeginsTheNextScene) {
    for (int i = 1; i <= 500; ++i) {
        Advance(0.01);
        const QString sPath = Add();
        EXPECT_EQ(sPath.isEmpty(), i != 1) << "picture " << i;
    }
    EXPECT_EQ(Maker->PictureCount(), 500);
    Advance(0.01);
    EXPECT_FALSE(Add().isEmpty()) << "picture 501";
    EXPECT_EQ(Maker->PictureCount(), 1);
    EXPECT_EQ(Announced.size(), 2);
    EXPECT_EQ(CountFiles(Scenes() + "/" + Announced[0]), 500);

    Maker->SetMaxPicturePerScene(1);
    for (int i = 0; i < 3; ++i) {
        Advance(0.01);
        EXPECT_FALSE(Add().isEmpty());
    }
    EXPECT_EQ(Announced.size(), 5);
}

// Each new scene sets off the small-scene sweep as a camera runs it: with its
// memory and the maker's own change of the day, so the day is read again only
// after someone else changed it. After every scene a sweep without any memory
// finds nothing more to remove.
TEST_F(SceneMakerTest, SweepKnowingTheMakersOwnChangeLeavesWhatAFullSweepLeaves) {
    constexpr int Minimum = 2;
    TSceneFileMemory memory;
    Maker->OnNewScene = [&](QObject*, const QString& sPath) {
        Announced.append(sPath);
        SweepSmallScenes(Scenes(), sPath, Minimum, &memory, Maker->OwnScenes().get());
    };
    const QString day = Scenes() + "/20240517";
    enum TOutside { Nothing, SmallByHand, Foreign, RemoveSecond };
    const std::vector<std::pair<int, TOutside>> scenes = {
        {1, Nothing}, {2, Nothing},      {1, SmallByHand}, {3, Foreign},
        {1, Nothing}, {2, RemoveSecond}, {1, Nothing},     {1, Nothing}};
    for (const auto& [pictures, outside] : scenes) {
        Advance(120);
        for (int i = 0; i < pictures; ++i) {
            Add();
            Advance(0.01);
        }
        const QStringList before = Entries(day);
        SweepSmallScenes(Scenes(), Announced.last(), Minimum);
        EXPECT_EQ(Entries(day), before) << "after " << Announced.last().toStdString();
        if (outside == SmallByHand)
            WriteFile(day + "/235900000/20240517235900000.jpg");
        if (outside == Foreign) // kept by the user's file, tried again at every scene
            WriteFile(day + "/235800000/notes.txt");
        if (outside == RemoveSecond) {
            ASSERT_TRUE(QDir(Scenes() + "/" + Announced[1]).removeRecursively());
        }
    }
    const auto scene = [&](int i) { return Announced[i].section('/', 1); };
    EXPECT_EQ(Entries(day), QStringList({scene(3), scene(5), scene(7), "235800000"}));
}

// The sweeps run on a worker and may come after the maker has begun further
// scenes. A sweep never takes a scene begun after its own, the scenes it
// keeps are what a full sweep keeps, and a hand-made change in between is
// still seen.
TEST_F(SceneMakerTest, ALateSweepSparesTheScenesBegunAfterItsOwn) {
    constexpr int Minimum = 2;
    TSceneFileMemory memory;
    const QString day = Scenes() + "/20240517";
    const auto makeScenes = [&](const std::vector<int>& pictures) {
        for (const int count : pictures) {
            Advance(120);
            for (int i = 0; i < count; ++i) {
                Add();
                Advance(0.01);
            }
        }
    };
    const auto scene = [&](int i) { return Announced[i].section('/', 1); };
    const auto sweep = [&](int i) {
        SweepSmallScenes(Scenes(), Announced[i], Minimum, &memory, Maker->OwnScenes().get());
    };
    makeScenes({1, 2, 1, 1});
    sweep(0);
    EXPECT_EQ(Entries(day).size(), 4) << "no scene after the swept one is taken";
    sweep(1);
    sweep(2);
    EXPECT_EQ(Entries(day), QStringList({scene(1), scene(2), scene(3)}));
    makeScenes({1});
    WriteFile(day + "/235900000/20240517235900000.jpg"); // small, by hand
    sweep(3);
    EXPECT_EQ(Entries(day), QStringList({scene(1), scene(3), scene(4)}));
    sweep(4);
    EXPECT_EQ(Entries(day), QStringList({scene(1), scene(4)}));
    const QStringList left = Entries(day);
    SweepSmallScenes(Scenes(), Announced[4], Minimum);
    EXPECT_EQ(Entries(day), left);
}

// A sweep so late that the maker's log no longer holds its scene still
// spares every scene the log holds, the one being filled among them.
TEST_F(SceneMakerTest, ASweepLaterThanTheLogReachesSparesEveryLoggedScene) {
    TSceneFileMemory memory;
    const int scenes = int(TOwnSceneLog::Capacity) + 10;
    for (int i = 0; i < scenes; ++i) {
        Advance(120);
        Add();
    }
    ASSERT_EQ(Announced.size(), scenes);
    SweepSmallScenes(Scenes(), Announced[0], 2, &memory, Maker->OwnScenes().get());
    const QStringList left = Entries(Scenes() + "/20240517");
    EXPECT_EQ(left.size(), int(TOwnSceneLog::Capacity) + 1);
    EXPECT_TRUE(left.contains(Announced[0].section('/', 1)));
    EXPECT_TRUE(left.contains(Announced.last().section('/', 1)));
}

TEST_F(SceneMakerTest, SceneRunningPastMidnightStaysInItsDay) {
    Clock = LocalTime(2024, 12, 31, 23, 59, 58, 0);
    EXPECT_EQ(Add(), "20241231/235958000");
    Advance(3);
    EXPECT_EQ(Add(), "");
    const QString scene = Scenes() + "/20241231/235958000";
    EXPECT_TRUE(QFileInfo::exists(scene + "/20250101000001000.jpg"));
    EXPECT_FALSE(QFileInfo::exists(Scenes() + "/20250101"));
}

TEST_F(SceneMakerTest, APictureNeverReplacesAnother) {
    const TJPEGImage first = TestPicture(10);
    Maker->AddPicture(first);
    const TJPEGImage second = TestPicture(200);
    EXPECT_EQ(Maker->AddPicture(second), "") << "the same millisecond";
    // The clock steps back: the names come round again.
    Advance(0.75);
    Add(30);
    Advance(-0.75);
    Add(40);
    EXPECT_EQ(Maker->PictureCount(), 4);
    const QString scene = Maker->CurrentSceneDir();
    ASSERT_EQ(Entries(scene), (QStringList{"20240517143015250.jpg", "20240517143015251.jpg",
                                           "20240517143015252.jpg", "20240517143016000.jpg"}));
    QFile file(scene + "/20240517143015250.jpg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), first.JpegData());
    QFile moved(scene + "/20240517143015251.jpg");
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), second.JpegData());
}

TEST_F(SceneMakerTest, DeletedRunningSceneIsCreatedAgainWithoutAnnouncement) {
    Add();
    const QString scene = Maker->CurrentSceneDir();
    ASSERT_TRUE(QDir(scene).removeRecursively());
    Advance(1);
    EXPECT_EQ(Add(), "");
    EXPECT_EQ(Announced.size(), 1);
    EXPECT_EQ(Entries(scene), QStringList{"20240517143016250.jpg"});
    EXPECT_EQ(Maker->PictureCount(), 2);
}

TEST_F(SceneMakerTest, RemovedSceneDirIsCreatedAgainOneLevelOnly) {
    Maker->SetSceneDir(PathOf("rec/0"));
    MakeDir(PathOf("rec/0"));
    Add();
    ASSERT_TRUE(QDir(PathOf("rec/0")).removeRecursively());
    Advance(1);
    EXPECT_EQ(Add(), "") << "the running scene goes on";
    EXPECT_EQ(Entries(Maker->CurrentSceneDir()), QStringList{"20240517143016250.jpg"});
    EXPECT_EQ(Maker->PictureCount(), 2);

    // Its parent gone as well: nothing is invented above the scene directory.
    ASSERT_TRUE(QDir(PathOf("rec")).removeRecursively());
    Advance(1);
    EXPECT_NO_THROW(EXPECT_EQ(Add(), ""));
    EXPECT_FALSE(QFileInfo::exists(PathOf("rec")));
    EXPECT_FALSE(Maker->LastPictureStored());
    EXPECT_EQ(Maker->StoreError(),
              "Error creating Directory " + PathOf("rec/0") + ": No such file or directory");
    EXPECT_EQ(Maker->PictureCount(), 2) << "dropped pictures do not count";
    MakeDir(PathOf("rec"));
    Advance(1);
    Add();
    EXPECT_TRUE(Maker->LastPictureStored());
    EXPECT_TRUE(Maker->StoreError().isEmpty());
    EXPECT_EQ(Maker->PictureCount(), 3);
}

TEST_F(SceneMakerTest, SceneIsAnnouncedWithItsFirstStoredPictureOnly) {
    Maker->SetSecondsBeforeNewScene(5);
    Add();
    // A file where the next scene's directory belongs: nothing can be stored.
    WriteFile(Scenes() + "/20240517/143030250");
    Advance(15);
    EXPECT_EQ(Add(), "");
    EXPECT_EQ(Announced.size(), 1) << "a scene without a stored picture is not announced";
    EXPECT_FALSE(Maker->LastPictureStored());
    EXPECT_EQ(Maker->StoreError(),
              "Error creating Directory " + Scenes() + "/20240517/143030250: Not a directory");
    Advance(1);
    EXPECT_EQ(Add(), "");
    QFile::remove(Scenes() + "/20240517/143030250");
    Advance(1);
    EXPECT_EQ(Add(), "20240517/143030250") << "announced once its first picture is there";
    EXPECT_EQ(Announced, (QStringList{"20240517/143015250", "20240517/143030250"}));
    EXPECT_EQ(Entries(Scenes() + "/20240517/143030250"), QStringList{"20240517143032250.jpg"});

    // A scene that stored nothing, its disk full, leaves no empty folder behind.
    Clock = LocalTime(2024, 5, 18, 9, 0, 0);
    {
        const FileSizeLimit full(0);
        EXPECT_THROW(Add(), EPictureWrite);
    }
    EXPECT_TRUE(QFileInfo(Scenes() + "/20240518/090000000").isDir());
    Clock = LocalTime(2024, 5, 19, 9, 0, 0);
    EXPECT_EQ(Add(), "20240519/090000000");
    EXPECT_FALSE(QFileInfo::exists(Scenes() + "/20240518"));
    EXPECT_EQ(Announced.size(), 3);
}

TEST_F(SceneMakerTest, ChangedSceneDirAppliesFromTheNextScene) {
    Maker->SetSecondsBeforeNewScene(5);
    Add();
    const QString other = PathOf("Other/");
    MakeDir(other);
    Maker->SetSceneDir(other);
    Advance(1);
    Add();
    EXPECT_EQ(CountFiles(Scenes() + "/20240517/143015250"), 2);
    Advance(10);
    EXPECT_EQ(Add(), "20240517/143026250");
    EXPECT_EQ(Maker->CurrentSceneDir(), PathOf("Other/20240517/143026250"))
        << "a trailing separator is not doubled";
}

TEST_F(SceneMakerTest, EmptySceneDirStoresNothingAnywhere) {
    Maker->SetSceneDir("");
    EXPECT_EQ(Add(), "");
    EXPECT_TRUE(Announced.isEmpty());
    EXPECT_TRUE(Maker->CurrentSceneDir().isEmpty());
    EXPECT_FALSE(QFileInfo::exists("/20240517"));
}

TEST_F(SceneMakerTest, WriteFailurePropagatesWithoutAnnouncementOrCount) {
    // A directory in the way of the temporary file makes the write fail.
    const QString scene = Scenes() + "/20240517/143015250";
    MakeDir(scene + "/" + PictureTempName("20240517143015250.jpg"));
    EXPECT_THROW(Add(), EPictureWrite);
    EXPECT_TRUE(Announced.isEmpty());
    EXPECT_EQ(Maker->PictureCount(), 0);
    EXPECT_EQ(Maker->CurrentSceneDir(), scene);
    EXPECT_DOUBLE_EQ(Maker->LastPictureTime(), Clock);
    EXPECT_FALSE(Maker->LastPictureStored());
    EXPECT_TRUE(Maker->StoreError().startsWith("Error writing File " + scene));
    Advance(1);
    EXPECT_EQ(Add(), "20240517/143015250") << "the scene's first stored picture announces it";
    EXPECT_EQ(Announced, QStringList{"20240517/143015250"});
    EXPECT_EQ(Maker->PictureCount(), 1);
}

TEST_F(SceneMakerTest, FullDiskInTheMiddleOfAWriteLeavesNoTruncatedPicture) {
    Add();
    const QString scene = Maker->CurrentSceneDir();
    Advance(1);
    const TJPEGImage large = TestPicture(50, 256);
    ASSERT_GT(large.Size(), 1000);
    // A file size limit makes the write stop part way, as a full disk would.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool raised = false;
    try {
        Maker->AddPicture(large);
    } catch (const EPictureWrite&) {
        raised = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(raised);
    EXPECT_EQ(Entries(scene), QStringList{"20240517143015250.jpg"})
        << "neither a truncated picture nor the temporary file remains";
    EXPECT_EQ(Maker->PictureCount(), 1);
}

TEST_F(SceneMakerTest, HandlerErrorPropagatesAfterThePictureIsStored) {
    Maker->OnNewScene = [](QObject*, const QString& sPath) {
        throw EkaError("TTarvikForm.OnNewScene: Wrong Path: " + sPath);
    };
    EXPECT_THROW(Add(), EkaError);
    EXPECT_EQ(Maker->PictureCount(), 1);
    EXPECT_EQ(CountFiles(Maker->CurrentSceneDir()), 1);
}

} // namespace
