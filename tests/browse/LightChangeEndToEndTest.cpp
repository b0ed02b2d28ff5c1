#include "EkaError.h"
#include "LightSequence.h"
#include "TIniFile.h"
#include "TJPEGImage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// The person's light clothes are brighter than anything in the room. A
// picture still being written shows nothing yet.
bool ShowsThePerson(const QString& file) {
    try {
        const QImage picture = TJPEGImage::DecodeScaled(TJPEGImage::ReadFileData(file), QSize());
        int bright = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                bright += qRed(picture.pixel(x, y)) > 195 && qGreen(picture.pixel(x, y)) > 185;
        return bright >= 200;
    } catch (const EkaError&) {
        return false;
    }
}

// Day, scene and file names are times: sorted, the start picture comes first.
QStringList Pictures(const QString& dir) {
    QStringList pictures;
    for (QDirIterator it(dir, {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        pictures << it.next();
    pictures.sort();
    return pictures;
}

} // namespace

// The real program with one network camera playing a file at 25 pictures a
// second (each of the sequence's pictures two or three times): the lamp
// drops and comes back, then drops again and comes back as a person walks in.
TEST(LightChangeEndToEndTest, ANetworkCameraRecordsTheWalkButNotTheLamp) {
    QTemporaryDir folder, runtime;
    ASSERT_TRUE(folder.isValid() && runtime.isValid());
    const QString program = folder.filePath("Tarvik"), clipFile = folder.filePath("lamp.mjpeg");
    ASSERT_TRUE(QFile::copy(TARVIK_EXECUTABLE, program) && QDir(folder.path()).mkdir("Cfg"));
    QFile clip(clipFile);
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
    const TLightSequence lamp(TLightSequence::TLight::Lamp, false);
    const TLightSequence walk(TLightSequence::TLight::Lamp, true);
    for (int k = 0; k < 80 + walk.Frames() - 40; ++k) {
        TJPEGImage jpeg;
        jpeg.Assign(k < 80 ? lamp.Frame(k) : walk.Frame(k - 40));
        jpeg.SetQuality(90);
        jpeg.Compress();
        for (int copy = 0; copy < 2 + k % 2; ++copy)
            ASSERT_EQ(clip.write(jpeg.JpegData()), jpeg.Size());
    }
    ASSERT_TRUE(clip.flush());
    TIniFile ini(folder.filePath("Cfg/Tarvik.ini"));
    ini.WriteInteger("NetworkCameras", "Count", 1);
    ini.WriteString("NetworkCameras", "Name1", "Lamp");
    ini.WriteString("NetworkCameras", "Url1", clipFile);
    ini.WriteBool("Boolean", "VideoSetupForm.LightChangekaCheckBox", true);

    QProcess tarvik;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    tarvik.setProcessEnvironment(environment);
    tarvik.setWorkingDirectory(folder.path());
    tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
    tarvik.start(program, {});
    ASSERT_TRUE(tarvik.waitForStarted());
    // The clip lasts 12 s; the walk begins 9 s in.
    const QString scenes = folder.filePath("Scenes");
    for (QDeadlineTimer deadline(40000);
         !deadline.hasExpired() && tarvik.state() == QProcess::Running; QThread::msleep(200)) {
        const QStringList pictures = Pictures(scenes);
        if (pictures.size() >= 2 && ShowsThePerson(pictures.last()))
            break;
    }
    ::kill(pid_t(tarvik.processId()), SIGTERM);
    ASSERT_TRUE(tarvik.waitForFinished(10000));
    EXPECT_EQ(tarvik.exitCode(), 0);

    const QStringList pictures = Pictures(scenes);
    ASSERT_GE(pictures.size(), 2) << "the walk was not recorded";
    // The first picture is the start, recorded whatever it shows.
    for (const QString& picture : pictures.mid(1))
        EXPECT_TRUE(ShowsThePerson(picture))
            << "recorded without the person: " << picture.toStdString();
    EXPECT_FALSE(QFile::exists(folder.filePath("Tarvik.ERR")));
}
