#include "TIniFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int RecordingTimeoutMs = 20000;
constexpr int SecondStartTimeoutMs = 5000;
constexpr int ShutdownTimeoutMs = 10000;

// The pictures below Scenes/0 whose path follows the recording layout,
// yyyymmdd/hhnnsszzz/yyyymmddhhnnsszzz.jpg, with the file named after its
// day and a time in its scene or later.
QStringList RecordedPictures(const QString& sceneDir) {
    static const QRegularExpression layout(
        QStringLiteral("^(\\d{8})/(\\d{9})/(\\d{8})(\\d{9})\\.jpg$"));
    QStringList pictures;
    QDirIterator it(sceneDir, {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(sceneDir).relativeFilePath(it.next());
        const QRegularExpressionMatch match = layout.match(relative);
        if (match.hasMatch() && match.captured(1) == match.captured(3) &&
            match.captured(4) >= match.captured(2))
            pictures.append(relative);
    }
    return pictures;
}

// The real program, copied into a temporary program folder with one demo
// camera and nothing else, started and ended as a user or service would.
class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        ASSERT_TRUE(Runtime.isValid());
        Program = Folder.filePath(QStringLiteral("Tarvik"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_EXECUTABLE), Program));
        ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("Cfg")));
        // Broadcasting stays off: no [Boolean] entry turns it on.
        TIniFile ini(ConfigFile());
        ini.WriteInteger(QStringLiteral("Capture"), QStringLiteral("DemoCameras"), 1);
    }

    void TearDown() override {
        for (QProcess* process : {&First, &Second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    QString ConfigFile() const { return Folder.filePath(QStringLiteral("Cfg/Tarvik.ini")); }

    void Start(QProcess& process,
               QProcess::ProcessChannelMode errors = QProcess::ForwardedErrorChannel) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(Folder.path());
        process.setProcessChannelMode(errors);
        process.start(Program, {});
        ASSERT_TRUE(process.waitForStarted());
    }

    QStringList WaitForPictures() {
        const QDeadlineTimer deadline(RecordingTimeoutMs);
        QStringList pictures;
        while (!deadline.hasExpired() && First.state() == QProcess::Running) {
            pictures = RecordedPictures(Folder.filePath(QStringLiteral("Scenes/0")));
            if (!pictures.isEmpty())
                break;
            QThread::msleep(100);
        }
        return pictures;
    }

    // Waits until Done, the process ending or the time running out.
    template <class Predicate> bool WaitUntil(QProcess& process, Predicate done) {
        const QDeadlineTimer deadline(RecordingTimeoutMs);
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            if (done())
                return true;
            process.waitForReadyRead(100);
        }
        return done();
    }

    QString ErrorLog() const {
        QFile file(Folder.filePath(QStringLiteral("Tarvik.ERR")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    QString Program;
    QProcess First;
    QProcess Second;
};

TEST_F(EndToEndTest, RecordsHandsOverASecondStartAndEndsCleanly) {
    Start(First);
    const QStringList pictures = WaitForPictures();
    ASSERT_FALSE(pictures.isEmpty()) << "no picture recorded within the time";

    // A second start of the same program folder hands over and ends at once.
    Start(Second);
    ASSERT_TRUE(Second.waitForFinished(SecondStartTimeoutMs));
    EXPECT_EQ(Second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Second.exitCode(), 0);
    EXPECT_EQ(First.state(), QProcess::Running);
    // The second instance never built a window: no second camera folder.
    EXPECT_FALSE(QFileInfo::exists(Folder.filePath(QStringLiteral("Scenes/1"))));

    ::kill(pid_t(First.processId()), SIGTERM);
    ASSERT_TRUE(First.waitForFinished(ShutdownTimeoutMs));
    EXPECT_EQ(First.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(First.exitCode(), 0);

    const TIniFile ini(ConfigFile());
    EXPECT_EQ(ini.ReadInteger("Capture", "DemoCameras", 0), 1);
    EXPECT_GE(ini.ReadInteger("TarvikForm", "Width", 0), 630);
    EXPECT_GE(ini.ReadInteger("TarvikForm", "Height", 0), 496);
    EXPECT_TRUE(ini.ValueExists("TarvikForm", "Maximized"));
    EXPECT_EQ(ini.ReadString("VideoFrame1Scene", "SceneDir", ""),
              Folder.filePath(QStringLiteral("Scenes/0")));
    EXPECT_TRUE(ini.ValueExists("String", "VideoFrame1.SourcekaEdit"));
    EXPECT_FALSE(ini.ReadBool("Boolean", "VideoFrame1.BroadcastAction", false));
    EXPECT_FALSE(QFileInfo::exists(Folder.filePath(QStringLiteral("Tarvik.ERR"))));
    // The single start cleaned up behind itself.
    EXPECT_TRUE(QDir(Runtime.path()).isEmpty());
}

TEST_F(EndToEndTest, AFailureBeforeTheWindowIsShownOnStandardErrorAndEndsWithAFailure) {
    // "Cfg" is a file: the configuration cannot exist.
    ASSERT_TRUE(QDir(Folder.path()).removeRecursively() && QDir().mkpath(Folder.path()));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_EXECUTABLE), Program));
    QFile blocker(Folder.filePath(QStringLiteral("Cfg")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    Start(First, QProcess::SeparateChannels);
    QByteArray errors;
    const bool said = WaitUntil(First, [&] {
        errors += First.readAllStandardError();
        return errors.contains("Error creating Directory " + Folder.filePath("Cfg").toUtf8());
    });
    ASSERT_TRUE(said) << errors.toStdString();
    // Its message box waits for the user; a SIGTERM ends it there.
    EXPECT_EQ(First.state(), QProcess::Running);
    ::kill(pid_t(First.processId()), SIGTERM);
    ASSERT_TRUE(First.waitForFinished(ShutdownTimeoutMs));
    EXPECT_EQ(First.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(First.exitCode(), EXIT_FAILURE);
}

TEST_F(EndToEndTest, ASigtermWhileAStartUpErrorIsShownEndsAndStoresThePlacement) {
    // "Scenes" is a file: the camera gets no recording folder.
    QFile blocker(Folder.filePath(QStringLiteral("Scenes")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    Start(First);
    ASSERT_TRUE(WaitUntil(First, [this] {
        return ErrorLog().contains("Error creating Directory");
    })) << "the error was not reported";
    ::kill(pid_t(First.processId()), SIGTERM);
    ASSERT_TRUE(First.waitForFinished(ShutdownTimeoutMs)) << "SIGTERM was not honoured";
    EXPECT_EQ(First.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(First.exitCode(), 0);
    EXPECT_TRUE(TIniFile(ConfigFile()).ValueExists("TarvikForm", "Width"));
    EXPECT_TRUE(QDir(Runtime.path()).isEmpty());
}

TEST_F(EndToEndTest, ASigtermEndsAlsoWhenThePlacementCannotBeStored) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the program as another user";
    // The program runs as "nobody", so a read-only "Cfg" holds for it.
    constexpr uid_t Nobody = 65534;
    for (const QString& path :
         {Folder.path(), Folder.filePath("Cfg"), ConfigFile(), Program, Runtime.path()})
        ASSERT_EQ(chown(QFile::encodeName(path).constData(), Nobody, Nobody), 0);
    First.setChildProcessModifier([] {
        if (setgid(Nobody) != 0 || setuid(Nobody) != 0)
            _exit(127);
    });
    Start(First);
    ASSERT_FALSE(WaitForPictures().isEmpty()) << "the program did not start";

    ASSERT_EQ(chmod(QFile::encodeName(Folder.filePath("Cfg")).constData(), 0555), 0);
    ::kill(pid_t(First.processId()), SIGTERM);
    const bool ended = First.waitForFinished(ShutdownTimeoutMs);
    chmod(QFile::encodeName(Folder.filePath("Cfg")).constData(), 0755);
    ASSERT_TRUE(ended) << "the program did not end";
    EXPECT_EQ(First.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(First.exitCode(), 0);
    EXPECT_TRUE(ErrorLog().contains("Error writing File")) << ErrorLog().toStdString();
}

} // namespace
