#include "DemoCameraBackend.h"
#include "DiskSpace.h"
#include "FVideoSetup.h"
#include "PageFixture.h"
#include "TJPEGImage.h"
#include "frScene.h"
#include "kaCheckBox.h"
#include "kaLabel.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>

namespace {

// The camera page records its motion pictures through its scene settings frame.
class PageRecordingTest : public PageFixture {
protected:
    void SetUp() override {
        PageFixture::SetUp();
        SceneDir = PathOf(QStringLiteral("Scenes/0"));
    }

    void TearDown() override {
        SetFreeSpaceReader({});
        PageFixture::TearDown();
    }

    // Every picture file below the scene directory, as paths relative to it.
    QStringList StoredPictures() const {
        QStringList found;
        QDirIterator it(SceneDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(SceneDir).relativeFilePath(it.next());
        found.sort();
        return found;
    }

    TVideoFrame& CreateRecordingPage() {
        TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
        page.SetDescription(QStringLiteral("Demo camera 1"));
        EXPECT_NE(page.SceneFrame(), nullptr);
        return page;
    }

    QString SceneDir;
};

TEST_F(PageRecordingTest, SetDescriptionCreatesTheNamedSceneFrameOnce) {
    TVideoFrame& page = CreateRecordingPage();
    TSceneFrame* frame = page.SceneFrame();
    EXPECT_EQ(frame->objectName(), page.objectName() + "Scene");
    EXPECT_FALSE(frame->isVisible());
    page.SetDescription(QStringLiteral("Demo camera 1"));
    page.SetDescription(QStringLiteral("Another name"));
    EXPECT_EQ(page.SceneFrame(), frame);
}

TEST_F(PageRecordingTest, WithoutASceneDirectoryNothingIsStoredButTheJpegIsMade) {
    TVideoFrame& page = CreateRecordingPage();
    page.PlayActionExecute();
    Tick();
    ASSERT_TRUE(page.Motion());
    EXPECT_GT(page.Jpeg().Size(), 0);
    QDirIterator pictures(PathOf(QStringLiteral("Scenes")), QDir::Files | QDir::Hidden,
                          QDirIterator::Subdirectories);
    EXPECT_FALSE(pictures.hasNext());
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("; ").toStdString();
}

TEST_F(PageRecordingTest, MotionPicturesLandInTheLayoutAndDecode) {
    TVideoFrame& page = CreateRecordingPage();
    page.SceneFrame()->SetSceneDir(SceneDir);
    page.PlayActionExecute();
    Tick(8);
    ASSERT_TRUE(Errors.isEmpty()) << Errors.join("; ").toStdString();

    const QStringList pictures = StoredPictures();
    ASSERT_GE(pictures.size(), 2);
    const QRegularExpression layout(QStringLiteral("^(\\d{8})/(\\d{9})/(\\d{8})(\\d{9})\\.jpg$"));
    for (const QString& picture : pictures) {
        const auto match = layout.match(picture);
        ASSERT_TRUE(match.hasMatch()) << picture.toStdString();
        EXPECT_EQ(match.captured(1), match.captured(3)); // the day folder is the picture's day
        EXPECT_LE(match.captured(2), match.captured(4)); // the scene began at or before it
    }
    TJPEGImage stored;
    stored.LoadFromFile(SceneDir + QLatin1Char('/') + pictures.last());
    const QImage decoded = stored.Decode();
    EXPECT_EQ(decoded.size(), QSize(640, 480));
}

TEST_F(PageRecordingTest, TheGuardStopsStoringWhileSpaceIsShortAndResumes) {
    qint64 freeBytes = 15 * BytesPerMegabyte;
    SetFreeSpaceReader([&freeBytes](const QString&) { return std::optional<qint64>(freeBytes); });
    TVideoFrame& page = CreateRecordingPage();
    TSceneFrame* frame = page.SceneFrame();
    frame->SetSceneDir(SceneDir);
    frame->MinDiskSpaceFrame->TrackBar->SetPosition(20);
    frame->DeleteOldCheckBox->setChecked(false);
    page.PlayActionExecute();
    Tick(); // the first frame is motion
    ASSERT_TRUE(page.Motion());
    EXPECT_TRUE(StoredPictures().isEmpty());
    EXPECT_EQ(frame->CurrentFreeLabel->text(), "15 ");
    EXPECT_EQ(frame->CurrentFreeLabel->palette().color(QPalette::WindowText), QColor(Qt::red));

    freeBytes = 500 * BytesPerMegabyte;
    Tick(8);
    EXPECT_FALSE(StoredPictures().isEmpty());
    EXPECT_EQ(frame->CurrentFreeLabel->text(), "500 ");
    EXPECT_EQ(frame->CurrentFreeLabel->palette().color(QPalette::WindowText), QColor(Qt::black));
}

} // namespace
