#include "ApplicationErrors.h"
#include "PictureSupport.h"
#include "TempProgramDir.h"
#include "ThumbnailCache.h"
#include "frImage.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaLabel.h"

#include <QLocale>
#include <memory>

namespace {

class ImageFrameTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SavedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        PreviousLogger =
            SetApplicationErrorLogger([this](const std::exception&) { ++LoggedErrors; });
        Frame.reset(CreateLoaded<TImageFrame>());
    }

    void TearDown() override {
        Frame.reset();
        SetApplicationErrorLogger(std::move(PreviousLogger));
        QLocale::setDefault(SavedLocale);
        TempProgramDir::TearDown();
    }

    QLocale SavedLocale;
    std::unique_ptr<TImageFrame> Frame;
    TApplicationErrorHandler PreviousLogger;
    int LoggedErrors = 0;
};

TEST_F(ImageFrameTest, ATimeStampToTheMillisecondFromASeventeenDigitName) {
    const QString file = PathOf("Scenes/0/20041231/235959120/20041231235959120.jpg");
    WritePicture(file, Qt::red);
    Frame->LoadPicture(file);
    EXPECT_EQ(Frame->FileDatekaLabel->text(), "12/31/04 11:59:59.120 PM");
    EXPECT_TRUE(SameColour(Frame->Picture().pixelColor(5, 5), Qt::red));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(TImageFrame::TimeStampText(file), "31.12.04 23:59:59.120");
    EXPECT_EQ(TImageFrame::TimeStampText("/x/holiday.jpg"), "holiday.jpg")
        << "a name without a date is shown as it is";
    EXPECT_EQ(TImageFrame::TimeStampText("/x/20041331120000000.jpg"), "20041331120000000.jpg");
}

TEST_F(ImageFrameTest, TheSameFileIsLoadedOnceAndAnotherOneAfresh) {
    const QString first = PathOf("a/20041231120000000.jpg");
    const QString second = PathOf("a/20041231120000100.jpg");
    WritePicture(first, Qt::red);
    WritePicture(second, Qt::green);
    Frame->LoadPicture(first);
    WritePicture(first, Qt::blue);
    Frame->LoadPicture(first);
    EXPECT_TRUE(SameColour(Frame->Picture().pixelColor(5, 5), Qt::red));
    Frame->LoadPicture(second);
    Frame->LoadPicture(first);
    EXPECT_TRUE(SameColour(Frame->Picture().pixelColor(5, 5), Qt::blue));
}

TEST_F(ImageFrameTest, AnUnreadableFileShowsNoPictureSaysSoAndIsLoggedOnce) {
    const QString good = PathOf("a/20041231120000000.jpg");
    const QString empty = PathOf("a/20041231120000100.jpg");
    const QString cut = PathOf("a/20041231120000200.jpg");
    WritePicture(good, Qt::red);
    WriteBytes(empty, QByteArray());
    WriteTruncatedPicture(cut);
    Frame->LoadPicture(good);
    for (int round = 0; round < 2; ++round) {
        Frame->LoadPicture(empty);
        EXPECT_TRUE(Frame->Picture().isNull());
        EXPECT_EQ(Frame->FileDatekaLabel->text(),
                  "12/31/04 12:00:00.100 PM - The picture cannot be read");
        Frame->LoadPicture(cut);
        EXPECT_TRUE(Frame->Picture().isNull());
        Frame->LoadPicture(good);
        EXPECT_FALSE(Frame->Picture().isNull());
    }
    EXPECT_EQ(LoggedErrors, 2);
    // Repaired, the file is read again.
    WritePicture(empty, Qt::green);
    Frame->LoadPicture(empty);
    EXPECT_TRUE(SameColour(Frame->Picture().pixelColor(5, 5), Qt::green));
}

TEST_F(ImageFrameTest, StretchSurvivesARestart) {
    EXPECT_FALSE(Frame->Stretch());
    Frame->StretchAction->trigger();
    EXPECT_TRUE(Frame->Stretch());
    Frame->ActionList->UpdateActions();
    EXPECT_TRUE(ReadBoolSetting(Frame->StretchAction, false));
    EXPECT_EQ(ComponentPath(Frame->StretchAction), "ImageFrame.StretchAction");

    Frame.reset(CreateLoaded<TImageFrame>());
    EXPECT_TRUE(Frame->StretchAction->isChecked());
    EXPECT_TRUE(Frame->Stretch());
}

// ---- Scaled decoding and the thumbnail cache ------------------------------------------

TEST_F(ImageFrameTest, ScaledDecodingTakesTheSmallestFactorThatCoversTheSize) {
    const QString file = PathOf("p/20041231120000000.jpg");
    WritePicture(file, Qt::red, QSize(640, 480));
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray data = in.readAll();
    const QImage quarter = TJPEGImage::DecodeScaled(data, QSize(150, 112));
    EXPECT_EQ(quarter.size(), QSize(160, 120));
    EXPECT_EQ(quarter.format(), QImage::Format_RGB32);
    EXPECT_TRUE(SameColour(quarter.pixelColor(80, 60), Qt::red));
    EXPECT_EQ(qAlpha(quarter.pixel(3, 3)), 255);
    EXPECT_EQ(TJPEGImage::DecodeScaled(data, QSize(161, 112)).size(), QSize(240, 180));
    EXPECT_EQ(TJPEGImage::DecodeScaled(data, QSize()).size(), QSize(640, 480));
    EXPECT_EQ(TJPEGImage::DecodeScaled(data, QSize(2000, 2000)).size(), QSize(640, 480));
    EXPECT_THROW(TJPEGImage::DecodeScaled(data.left(data.size() / 2), QSize(150, 112)), EJPEG);
    EXPECT_THROW(TJPEGImage::DecodeScaled(QByteArray(), QSize(150, 112)), EJPEG);
}

TEST_F(ImageFrameTest, TheCacheDecodesOncePerFileStateAndStaysWithinItsBound) {
    const QString file = PathOf("p/20041231120000000.jpg");
    WritePicture(file, Qt::red, QSize(640, 480));
    TThumbnailCache cache;
    const QImage first = cache.Thumbnail(file, QSize(150, 112));
    EXPECT_EQ(first.size(), QSize(150, 112));
    EXPECT_EQ(cache.Thumbnail(file, QSize(150, 112)).cacheKey(), first.cacheKey());
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.Thumbnail(file, QSize(64, 48)).size(), QSize(64, 48));

    // Rewritten in place (same size, same second): decoded afresh.
    WritePicture(file, Qt::blue, QSize(640, 480));
    EXPECT_TRUE(SameColour(cache.Thumbnail(file, QSize(150, 112)).pixelColor(70, 50), Qt::blue));
    QFile::remove(file);
    EXPECT_TRUE(cache.Thumbnail(file, QSize(150, 112)).isNull());

    TThumbnailCache small(100); // KiB: room for one thumbnail of 150 by 112
    for (int i = 0; i < 3; ++i) {
        const QString other = PathOf(QStringLiteral("q/%1.jpg").arg(i));
        WritePicture(other, Qt::green, QSize(320, 240));
        EXPECT_FALSE(small.Thumbnail(other, QSize(150, 112)).isNull());
    }
    EXPECT_EQ(small.Count(), 1);
    EXPECT_LE(small.TotalKiB(), 100);
}

} // namespace
