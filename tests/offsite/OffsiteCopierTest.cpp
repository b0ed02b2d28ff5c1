#include "OffsiteCopier.h"

#include "OffsiteServers.h"
#include "OffsiteTestSupport.h"
#include "OffsiteTransport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

namespace {

using namespace std::chrono_literals;

// Quick retries, so an outage of seconds is bridged within the test.
const TOffsiteTimings Quick{200ms, 1000ms, 300ms, 100ms};

// A picture on the target with the size of the local one is not sent again;
// one of another size is replaced.
void ExpectSameSizeIsNotSentAgain(const TOffsiteTarget& target, const QString& localFile,
                                  const QString& remoteFile) {
    const std::unique_ptr<TOffsiteTransport> transport = TOffsiteTransport::Make(target);
    const QString relative = QStringLiteral("0/20261209/080000000/same.jpg");
    transport->Put(localFile, relative, true);
    ASSERT_EQ(ReadAll(remoteFile), ReadAll(localFile));
    const QByteArray other(int(QFileInfo(localFile).size()), 'o');
    {
        QFile remote(remoteFile);
        ASSERT_TRUE(remote.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(remote.write(other), other.size());
    }
    transport->Put(localFile, relative, true);
    EXPECT_EQ(ReadAll(remoteFile), other);
    const QByteArray longer = WritePicture(localFile, int(other.size()) + 7);
    transport->Put(localFile, relative, true);
    EXPECT_EQ(ReadAll(remoteFile), longer);
}

class OffsiteCopierTest : public ::testing::Test {
protected:
    QString Scenes() const { return Folder.path() + QStringLiteral("/Scenes/0"); }
    QString Journal() const { return Folder.path() + QStringLiteral("/Cfg/Offsite.journal"); }
    QString Target() const { return Folder.path() + QStringLiteral("/nas"); }

    void SetUp() override { QDir().mkpath(Folder.path() + QStringLiteral("/Cfg")); }

    std::map<QString, QByteArray> StoreScene(const QString& scene, int count, int first = 0) {
        return ::StoreScene(Scenes(), scene, count, first);
    }

    static TOffsiteTarget Parsed(const QString& url, const QString& identity = {},
                                 const QString& knownHosts = {}) {
        TOffsiteTarget target;
        target.KnownHostsFile = knownHosts;
        EXPECT_TRUE(target.Parse(url).isEmpty()) << url.toStdString();
        target.IdentityFile = identity;
        return target;
    }
    TOffsiteTarget FolderTarget() const { return Parsed(QUrl::fromLocalFile(Target()).toString()); }

    bool AllArrived(const QString& root, const std::map<QString, QByteArray>& pictures) {
        for (const auto& [path, data] : pictures)
            if (QFileInfo(root + QLatin1Char('/') + OffsiteRelativePath(Scenes(), path)).size() !=
                data.size())
                return false;
        return true;
    }

    // Pictures arrive, the server goes down for Seconds while one picture a
    // second is stored, and after its restart every picture is there.
    template <class TServer>
    void BridgeOutage(TServer& server, const TOffsiteTarget& target, const QString& root,
                      int seconds) {
        std::map<QString, QByteArray> pictures = StoreScene(QStringLiteral("080000000"), 6);
        TOffsiteCopier copier(Journal(), nullptr, Quick);
        copier.SetTarget(target);
        for (const auto& [path, data] : pictures)
            copier.Enqueue(Scenes(), path);
        ASSERT_TRUE(WaitFor([&] { return AllArrived(root, pictures); }, 20000))
            << copier.Status().Failure.toStdString();
        server.Stop();
        for (int i = 0; i < seconds; ++i) {
            const QString path = PicturePath(Scenes(), QStringLiteral("090000000"), i);
            pictures[path] = WritePicture(path);
            copier.Enqueue(Scenes(), path);
            WaitFor([] { return false; }, 1000);
        }
        EXPECT_FALSE(copier.Status().Failure.isEmpty());
        EXPECT_GE(copier.Status().Waiting, seconds);
        ASSERT_EQ(server.Restart(), QString());
        ASSERT_TRUE(WaitFor([&] { return AllArrived(root, pictures); }, 20000))
            << copier.Status().Failure.toStdString();
        ASSERT_TRUE(WaitFor([&] { return copier.Status().Waiting == 0; }, 2000));
        EXPECT_TRUE(copier.Status().Failure.isEmpty());
        EXPECT_EQ(TryOffsiteTarget(target), QString());
        ExpectArrived(root, Scenes(), pictures); // Try left nothing behind
        ExpectSameSizeIsNotSentAgain(target, pictures.begin()->first,
                                     root + QStringLiteral("/0/20261209/080000000/same.jpg"));
    }

    QTemporaryDir Folder;
};

TEST_F(OffsiteCopierTest, LocalFolderGetsEveryPictureOnceAndNothingGoesUntilItIsMounted) {
    std::map<QString, QByteArray> pictures = StoreScene(QStringLiteral("080000000"), 3);
    pictures.merge(StoreScene(QStringLiteral("090000000"), 3, 10));
    TOffsiteCopier copier(Journal(), nullptr, Quick);
    int failingChanges = 0;
    QObject::connect(&copier, &TOffsiteCopier::FailingChanged,
                     [&failingChanges] { ++failingChanges; });
    EXPECT_FALSE(copier.Enqueue(Scenes(), pictures.begin()->first)) << "no target, no queue";
    // An unmounted share: the mount point is missing, and is not made.
    copier.SetTarget(FolderTarget());
    for (const auto& [path, data] : pictures)
        ASSERT_TRUE(copier.Enqueue(Scenes(), path));
    EXPECT_FALSE(copier.Enqueue(Scenes(), Folder.path() + QStringLiteral("/elsewhere/a/b.jpg")));
    ASSERT_TRUE(WaitFor([&] { return failingChanges == 1; }, 5000));
    EXPECT_TRUE(copier.Failing());
    EXPECT_TRUE(copier.Status().Failure.contains(QLatin1String("is the share mounted")))
        << copier.Status().Failure.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Target()));
    EXPECT_EQ(copier.Status().Waiting, 6);

    QDir().mkpath(Target());
    ASSERT_TRUE(WaitFor([&] { return copier.Status().Waiting == 0; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return !copier.Failing(); }, 3000));
    EXPECT_EQ(failingChanges, 2);
    ExpectArrived(Target(), Scenes(), pictures);
    EXPECT_TRUE(copier.Status().LastCopied.isValid());
    EXPECT_TRUE(copier.Status().Failure.isEmpty());
    ExpectSameSizeIsNotSentAgain(FolderTarget(), pictures.begin()->first,
                                 Target() + QStringLiteral("/0/20261209/080000000/same.jpg"));
}

TEST_F(OffsiteCopierTest, QueueSurvivesARestartAndDeletedPicturesAreCounted) {
    std::map<QString, QByteArray> pictures = StoreScene(QStringLiteral("080000000"), 5);
    const QString deleted = pictures.begin()->first;
    {
        TOffsiteCopier copier(Journal(), nullptr, Quick);
        copier.SetTarget(FolderTarget());
        for (const auto& [path, data] : pictures)
            copier.Enqueue(Scenes(), path);
        ASSERT_TRUE(WaitFor([&] { return !copier.Status().Failure.isEmpty(); }, 5000));
    }
    EXPECT_EQ(TOffsiteJournal(Journal()).Load().size(), 5u);
    // The disk guard removes one before it could leave.
    QFile::remove(deleted);
    pictures.erase(deleted);
    QDir().mkpath(Target());

    TOffsiteCopier copier(Journal(), nullptr, Quick);
    copier.SetTarget(FolderTarget());
    ASSERT_TRUE(WaitFor([&] { return AllArrived(Target(), pictures); }, 5000));
    ASSERT_TRUE(WaitFor([&] { return copier.Status().Deleted == 1; }, 2000));
    ExpectArrived(Target(), Scenes(), pictures);
    ASSERT_TRUE(WaitFor([&] { return TOffsiteJournal(Journal()).Load().empty(); }, 3000))
        << "copied entries leave the journal";
}

// ---- Real servers ----------------------------------------------------------------------

// A test against a server of its own; skipped where that server cannot run here.
template <class TServer> class OffsiteServerTest : public OffsiteCopierTest {
protected:
    void SetUp() override {
        OffsiteCopierTest::SetUp();
        const QString why = Server.Start();
        if (!why.isEmpty())
            GTEST_SKIP() << "no server for this test: " << why.toStdString();
    }

    QTemporaryDir ServerFolder;
    TServer Server{ServerFolder.path()};
};

using OffsiteSftpTest = OffsiteServerTest<TSshServer>;
using OffsiteDavTest = OffsiteServerTest<TDavServer>;

TEST_F(OffsiteSftpTest, PicturesArriveWhileTheServerIsDownForTenSeconds) {
    BridgeOutage(Server, Parsed(Server.Url(), Server.IdentityFile(), Server.KnownHosts()),
                 Server.Root(), 10);
}

TEST_F(OffsiteSftpTest, UnknownOrChangedHostKeysAreRefused) {
    const auto pictures = StoreScene(QStringLiteral("080000000"), 1);
    const std::pair<QString, const char*> cases[] = {
        {Server.WrongKnownHosts(), "differs from the one in"},
        {ServerFolder.filePath(QStringLiteral("missing_known_hosts")), "is not in"},
    };
    for (const auto& [knownHosts, says] : cases) {
        const TOffsiteTarget target = Parsed(Server.Url(), Server.IdentityFile(), knownHosts);
        const QString tried = TryOffsiteTarget(target);
        EXPECT_TRUE(tried.contains(QLatin1String(says))) << tried.toStdString();
        EXPECT_TRUE(tried.contains(QLatin1String("refused")));

        TOffsiteCopier copier(Journal(), nullptr, Quick);
        copier.SetTarget(target);
        copier.Enqueue(Scenes(), pictures.begin()->first);
        ASSERT_TRUE(WaitFor([&] { return copier.Failing(); }, 5000));
        EXPECT_TRUE(copier.Status().Failure.contains(QLatin1String(says)));
        EXPECT_EQ(copier.Status().Waiting, 1);
    }
    EXPECT_TRUE(FilesBelow(Server.Root()).isEmpty()) << "nothing reached a refused server";
}

TEST_F(OffsiteDavTest, PicturesArriveByteForByteAcrossAnOutage) {
    BridgeOutage(Server, Parsed(Server.Url()), Server.Root() + QStringLiteral("/tarvik"), 3);
}

} // namespace
