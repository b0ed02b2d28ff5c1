#include "OffsiteJournal.h"
#include "OffsiteServers.h"
#include "OffsiteTarget.h"
#include "OffsiteTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Tarvik killed with SIGKILL while copying: after the next start every
// picture is there once, whole, and the journal is empty. A temporary of the
// interrupted upload may stay on the server, hidden and never taken for a picture.
class OffsiteKillTest : public ::testing::TestWithParam<const char*> {
protected:
    QString Scenes() const { return Folder.path() + QStringLiteral("/Scenes/0"); }
    QString Journal() const { return Folder.path() + QStringLiteral("/Offsite.journal"); }

    QStringList ProbeArguments(const QStringList& pictures) const {
        return QStringList{Journal(), Url, Identity, KnownHosts, Scenes()} + pictures;
    }

    bool ArrivedCount(int atLeast) const {
        int count = 0;
        for (const QString& file : FilesBelow(Root))
            count += file.endsWith(QLatin1String(".jpg")) ? 1 : 0;
        return count >= atLeast;
    }

    QTemporaryDir Folder;
    QTemporaryDir ServerFolder;
    QString Url, Identity, KnownHosts, Root;
};

TEST_P(OffsiteKillTest, EveryPictureArrivesOnceAfterAKill) {
    std::unique_ptr<TSshServer> server;
    if (QString(GetParam()) == QLatin1String("sftp")) {
        server = std::make_unique<TSshServer>(ServerFolder.path());
        const QString why = server->Start();
        if (!why.isEmpty())
            GTEST_SKIP() << "no SFTP server for this test: " << why.toStdString();
        Url = server->Url();
        Identity = server->IdentityFile();
        KnownHosts = server->KnownHosts();
        Root = server->Root();
    } else {
        Root = ServerFolder.path();
        Url = QUrl::fromLocalFile(Root).toString();
    }
    const auto pictures = StoreScene(Scenes(), QStringLiteral("080000000"), 150, 0, 40000);
    QStringList paths;
    for (const auto& [path, data] : pictures)
        paths << path;

    QProcess first;
    first.start(QStringLiteral(OFFSITE_COPY_PROBE), ProbeArguments(paths));
    ASSERT_TRUE(first.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return ArrivedCount(5); }, 20000))
        << first.readAllStandardError().toStdString();
    first.kill(); // SIGKILL, in the middle of the copying
    first.waitForFinished(5000);
    ASSERT_FALSE(ArrivedCount(150)) << "the kill came too late to interrupt anything";
    EXPECT_FALSE(TOffsiteJournal(Journal()).Load().empty());

    QProcess second;
    second.start(QStringLiteral(OFFSITE_COPY_PROBE), ProbeArguments({}));
    ASSERT_TRUE(second.waitForStarted(5000));
    const bool done = WaitFor(
        [&] { return ArrivedCount(150) && TOffsiteJournal(Journal()).Load().empty(); }, 30000);
    second.kill();
    second.waitForFinished(5000);
    ASSERT_TRUE(done) << second.readAllStandardError().toStdString();

    ExpectArrived(Root, Scenes(), pictures, true);
}

INSTANTIATE_TEST_SUITE_P(Targets, OffsiteKillTest, ::testing::Values("sftp", "folder"));

} // namespace
