#include "EkaError.h"
#include "LightSequence.h"
#include "TIniFile.h"
#include "TJPEGImage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using TLight = TLightSequence::TLight;

// A file at 25 pictures a second: each picture of the 10 a second sequences
// is written two or three times in turn.
void AppendClip(QFile& clip, const TLightSequence& sequence, int first, int last) {
    for (int k = first; k < last; ++k) {
        TJPEGImage jpeg;
        jpeg.Assign(sequence.Frame(k));
        jpeg.SetQuality(90);
        jpeg.Compress();
        for (int copy = 0; copy < 2 + k % 2; ++copy)
            ASSERT_EQ(clip.write(jpeg.JpegData()), jpeg.Size());
    }
}

// The person's light clothes are brighter than anything in the room. A
// picture still being written shows nothing yet.
bool ShowsThePerson(const QString& file) {
    QImage picture;
    try {
        picture = TJPEGImage::DecodeScaled(TJPEGImage::ReadFileData(file), QSize());
    } catch (const EkaError&) {
        return false;
    }
    int bright = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            bright += qRed(pixel) > 195 && qGreen(pixel) > 185;
        }
    return bright >= 200;
}

QStringList Pictures(const QString& dir) {
    QStringList pictures;
    QDirIterator it(dir, {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        pictures << it.next();
    // The names are times: sorted by name, the start picture comes first.
    std::sort(pictures.begin(), pictures.end(), [](const QString& a, const QString& b) {
        return a.section('/', -1) < b.section('/', -1);
    });
    return pictures;
}

} // namespace

// The real program with one network camera playing a file: the lamp drops and
// comes back, then drops again and comes back as a person walks in.
TEST(LightChangeEndToEndTest, ANetworkCameraRecordsTheWalkButNotTheLamp) {
    QTemporaryDir folder, runtime;
    ASSERT_TRUE(folder.isValid() && runtime.isValid());
    const QString program = folder.filePath(QStringLiteral("Tarvik"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_EXECUTABLE), program));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("Cfg")));
    const QString clipFile = folder.filePath(QStringLiteral("lamp.mjpeg"));
    {
        QFile clip(clipFile);
        ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
        AppendClip(clip, TLightSequence(TLight::Lamp, false), 0, 80);
        const TLightSequence walk(TLight::Lamp, true);
        AppendClip(clip, walk, 40, walk.Frames());
        ASSERT_TRUE(clip.flush());
    }
    {
        TIniFile ini(folder.filePath(QStringLiteral("Cfg/Tarvik.ini")));
        ini.WriteInteger(QStringLiteral("NetworkCameras"), QStringLiteral("Count"), 1);
        ini.WriteString(QStringLiteral("NetworkCameras"), QStringLiteral("Name1"), "Lamp");
        ini.WriteString(QStringLiteral("NetworkCameras"), QStringLiteral("Url1"), clipFile);
        ini.WriteBool(QStringLiteral("Boolean"),
                      QStringLiteral("VideoSetupForm.LightChangekaCheckBox"), true);
    }

    QProcess tarvik;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    tarvik.setProcessEnvironment(environment);
    tarvik.setWorkingDirectory(folder.path());
    tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
    tarvik.start(program, {});
    ASSERT_TRUE(tarvik.waitForStarted());

    // The clip lasts 12 s; the walk begins 9 s in.
    const QString scenes = folder.filePath(QStringLiteral("Scenes"));
    const QDeadlineTimer deadline(40000);
    QStringList pictures;
    while (!deadline.hasExpired() && tarvik.state() == QProcess::Running) {
        pictures = Pictures(scenes);
        if (pictures.size() >= 2 && ShowsThePerson(pictures.last()))
            break;
        QThread::msleep(200);
    }
    ::kill(pid_t(tarvik.processId()), SIGTERM);
    ASSERT_TRUE(tarvik.waitForFinished(10000));
    EXPECT_EQ(tarvik.exitCode(), 0);

    pictures = Pictures(scenes);
    ASSERT_GE(pictures.size(), 2) << "the walk was not recorded";
    // The first picture is the start, recorded whatever it shows.
    for (const QString& picture : pictures.mid(1))
        EXPECT_TRUE(ShowsThePerson(picture))
            << "recorded without the person: " << picture.toStdString();
    EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("Tarvik.ERR"))));
}
