#include "TIniFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int RecordingTimeoutMs = 20000;
constexpr int QuietMs = 1500;
constexpr int ShutdownTimeoutMs = 10000;
constexpr quint16 ClientPort = 4032;

QByteArray ReadFile(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Pictures(const QString& sceneDir) {
    QStringList pictures;
    QDirIterator it(sceneDir, {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        pictures.append(it.next());
    return pictures;
}

// Tarvik broadcasts to 255.255.255.255. The test gives both programs a
// network namespace of their own where that address leads only to the
// loopback device, so nothing reaches a real network.
class ClientEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create a network namespace for the broadcast";
        if (unshare(CLONE_NEWNET) != 0)
            GTEST_SKIP() << "cannot create a network namespace: " << std::strerror(errno);
        if (QProcess::execute(QStringLiteral("ip"), {"link", "set", "lo", "up"}) != 0 ||
            QProcess::execute(QStringLiteral("ip"), {"route", "add", "broadcast", "255.255.255.255",
                                                     "dev", "lo", "table", "local"}) != 0)
            GTEST_SKIP() << "cannot route broadcasts to the loopback device (is 'ip' installed?)";
        ASSERT_TRUE(Folder.isValid());
        ASSERT_TRUE(Runtime.isValid());
        for (const char* program : {TARVIK_EXECUTABLE, TARVIK_CLIENT_EXECUTABLE})
            ASSERT_TRUE(QFile::copy(QString::fromLocal8Bit(program),
                                    Folder.filePath(QFileInfo(program).fileName())));
        ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("Cfg")));
        TIniFile ini(Folder.filePath(QStringLiteral("Cfg/Tarvik.ini")));
        ini.WriteInteger("Capture", "DemoCameras", 1);
        ini.WriteBool("Boolean", "VideoFrame1.BroadcastAction", true);
    }

    void TearDown() override {
        for (QProcess* process : {&Tarvik, &Client}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    void Start(QProcess& process, const QString& program) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(Folder.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(Folder.filePath(program), {});
        ASSERT_TRUE(process.waitForStarted());
    }

    // The client listens once the port is taken.
    bool ClientListens() {
        const QDeadlineTimer deadline(StartTimeoutMs);
        while (!deadline.hasExpired() && Client.state() == QProcess::Running) {
            QUdpSocket probe;
            if (!probe.bind(QHostAddress::AnyIPv4, ClientPort, QAbstractSocket::DontShareAddress))
                return true;
            probe.close();
            QThread::msleep(50);
        }
        return false;
    }

    // Waits until Tarvik has recorded pictures and then stayed quiet a while.
    QStringList WaitForRecording() {
        const QString scenes = Folder.filePath(QStringLiteral("Scenes/0"));
        const QDeadlineTimer deadline(RecordingTimeoutMs);
        QStringList pictures;
        QDeadlineTimer quiet(QuietMs);
        while (!deadline.hasExpired() && Tarvik.state() == QProcess::Running) {
            const QStringList now = Pictures(scenes);
            if (now.size() != pictures.size()) {
                pictures = now;
                quiet.setRemainingTime(QuietMs);
            } else if (!pictures.isEmpty() && quiet.hasExpired()) {
                break;
            }
            QThread::msleep(100);
        }
        return pictures;
    }

    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    QProcess Tarvik;
    QProcess Client;
};

TEST_F(ClientEndToEndTest, TheClientKeepsTheLastPictureThatTarvikBroadcast) {
    Start(Client, QStringLiteral("TarvikClient"));
    ASSERT_TRUE(ClientListens()) << "the client did not listen on port 4032";
    Start(Tarvik, QStringLiteral("Tarvik"));
    const QStringList pictures = WaitForRecording();
    ASSERT_FALSE(pictures.isEmpty()) << "Tarvik recorded nothing within the time";

    ::kill(pid_t(Client.processId()), SIGTERM);
    ASSERT_TRUE(Client.waitForFinished(ShutdownTimeoutMs));
    EXPECT_EQ(Client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Client.exitCode(), 0);

    const QByteArray start = ReadFile(Folder.filePath(QStringLiteral("Start.Jpg")));
    ASSERT_FALSE(start.isEmpty()) << "no Start.Jpg";
    bool stored = false;
    for (const QString& picture : pictures)
        stored = stored || ReadFile(picture) == start;
    EXPECT_TRUE(stored) << "Start.Jpg is none of the " << pictures.size() << " recorded pictures";

    const TIniFile ini(Folder.filePath(QStringLiteral("Cfg/TarvikClient.ini")));
    EXPECT_TRUE(ini.ValueExists("TarvikClientForm", "Width"));
    EXPECT_EQ(ini.ReadString("String", "SetupForm.SetupFrame1.UDPPortkaEdit", ""), "4032");
    EXPECT_FALSE(QFileInfo::exists(Folder.filePath(QStringLiteral("TarvikClient.ERR"))));

    ::kill(pid_t(Tarvik.processId()), SIGTERM);
    ASSERT_TRUE(Tarvik.waitForFinished(ShutdownTimeoutMs));
    EXPECT_EQ(Tarvik.exitCode(), 0);
}

// The client alone, started as a user starts it, in a folder of its own.
class ClientStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid() && Runtime.isValid());
        ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_CLIENT_EXECUTABLE), Program));
    }
    void TearDown() override {
        Client.kill();
        Client.waitForFinished();
    }

    void Start() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());
        Client.setProcessEnvironment(environment);
        Client.setWorkingDirectory(Folder.path());
        Client.start(Program, {});
        ASSERT_TRUE(Client.waitForStarted());
    }

    // Waits while the client runs until Condition holds.
    bool WaitFor(const std::function<bool()>& condition) {
        const QDeadlineTimer deadline(StartTimeoutMs);
        while (!deadline.hasExpired() && Client.state() == QProcess::Running) {
            if (condition())
                return true;
            Client.waitForReadyRead(50);
        }
        return condition();
    }

    // SIGTERM while a box waits for the user: the client ends with Code.
    void TerminateExpecting(int code) {
        EXPECT_EQ(Client.state(), QProcess::Running) << "the box does not wait";
        ::kill(pid_t(Client.processId()), SIGTERM);
        ASSERT_TRUE(Client.waitForFinished(ShutdownTimeoutMs)) << "SIGTERM was not honoured";
        EXPECT_EQ(Client.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(Client.exitCode(), code);
    }

    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    const QString Program = Folder.filePath(QStringLiteral("TarvikClient"));
    QProcess Client;
};

TEST_F(ClientStartTest, AStartUpErrorIsShownOnStandardErrorAndEndsWithAFailure) {
    // "Sounds" is a file: the sound folder cannot be made.
    QFile blocker(Folder.filePath(QStringLiteral("Sounds")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Start();
    QByteArray errors;
    const QByteArray expected = "Error creating Directory " + Folder.filePath("Sounds").toUtf8();
    ASSERT_TRUE(WaitFor([&] {
        errors += Client.readAllStandardError();
        return errors.contains(expected);
    })) << errors.toStdString();
    TerminateExpecting(EXIT_FAILURE);
}

TEST_F(ClientStartTest, ASigtermWhileTheFirstShowReportsABusyPortEndsTheClient) {
    QUdpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("Cfg")));
    TIniFile(Folder.filePath(QStringLiteral("Cfg/TarvikClient.ini")))
        .WriteString("String", "SetupForm.SetupFrame1.UDPPortkaEdit",
                     QString::number(other.localPort()));
    Start();
    // The error is logged before its box opens.
    const QString log = Folder.filePath(QStringLiteral("TarvikClient.ERR"));
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(log).size() > 0; }));
    QThread::msleep(300);
    TerminateExpecting(EXIT_SUCCESS);
}

} // namespace
