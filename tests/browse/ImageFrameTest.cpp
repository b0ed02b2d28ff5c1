#include "ApplicationErrors.h"
#include "PictureSupport.h"
#include "TempProgramDir.h"
#include "ThumbnailCache.h"
#include "frImage.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaLabel.h"

#include <QLocale>
#include <algorithm>
#include <memory>
#include <utility>

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

// A picture whose every region differs: a thumbnail shifted, mirrored, cut at
// an edge or with its channels mixed up cannot pass for it.
QImage LandmarkPicture() {
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const bool block = ((x / 80) + (y / 80)) % 2 == 0;
            picture.setPixel(x, y, qRgb(x * 255 / 639, y * 255 / 479, block ? 220 : 30));
        }
    }
    return picture;
}

// The largest difference of any channel between the two pictures, averaged
// over their pixels, and the largest at any pixel.
std::pair<double, int> Difference(const QImage& actual, const QImage& expected) {
    qint64 sum = 0;
    int largest = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                    std::abs(qBlue(a) - qBlue(e))});
            sum += d;
            largest = std::max(largest, d);
        }
    }
    return {double(sum) / (expected.width() * expected.height()), largest};
}

TEST_F(ImageFrameTest, AThumbnailShowsWhatTheFullPictureShowsStretchedIntoItsBox) {
    const QString file = PathOf("p/20041231120000000.jpg");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    TJPEGImage jpeg;
    jpeg.Assign(LandmarkPicture());
    jpeg.SetQuality(90);
    jpeg.SaveToFile(file);
    TJPEGImage full;
    full.LoadFromFile(file);
    TThumbnailCache cache;
    // Decoded at 2/8, 3/8 and 1/8 and then stretched, and one exact fit.
    for (const QSize size : {QSize(150, 112), QSize(161, 120), QSize(50, 37), QSize(320, 240)}) {
        const QImage expected =
            full.Decode().scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage thumbnail = cache.Thumbnail(file, size);
        ASSERT_EQ(thumbnail.size(), size);
        const auto [mean, largest] = Difference(thumbnail, expected);
        EXPECT_LT(mean, 6.0) << size.width() << " x " << size.height();
        // Only along the blocks' edges do the two resamplings part a little.
        EXPECT_LT(largest, 64) << size.width() << " x " << size.height();
        EXPECT_EQ(qAlpha(thumbnail.pixel(size.width() - 1, size.height() - 1)), 255);
    }
}

TEST_F(ImageFrameTest, FillingTheCacheDecodesWhatIsMissingAndLeavesBrokenFilesToBeReported) {
    QStringList files;
    for (int i = 0; i < 5; ++i) {
        files.append(PathOf(QStringLiteral("s%1/%2").arg(i).arg(PictureName(i))));
        WritePicture(files.last(), PictureColour(i), QSize(640, 480));
    }
    WriteTruncatedPicture(files[2]);
    files.append(PathOf("gone.jpg"));
    TThumbnailCache cache;
    cache.Fill(files, QSize(150, 112));
    EXPECT_EQ(cache.Count(), 4);
    for (int i : {0, 1, 3, 4}) {
        const QImage thumbnail = cache.Thumbnail(files[i], QSize(150, 112));
        EXPECT_TRUE(SameColour(thumbnail.pixelColor(75, 56), PictureColour(i))) << i;
    }
    EXPECT_EQ(cache.Count(), 4) << "all of them came from the fill";
    EXPECT_THROW(cache.Thumbnail(files[2], QSize(150, 112)), EJPEG);
    EXPECT_TRUE(cache.Thumbnail(files[5], QSize(150, 112)).isNull());
}

TEST_F(ImageFrameTest, AFillAnswersEachHostilePictureWithItsReasonForThePageToPassOver) {
    const QString small = PathOf("s0/small.jpg");
    WritePicture(small, PictureColour(0));
    const QString huge = PathOf("s0/huge.jpg");
    const QString video = PathOf("s0/video.jpg");
    const QString cut = PathOf("s0/cut.jpg");
    // The frame header claims 65500 x 65500.
    QByteArray claims = TJPEGImage::ReadFileData(small);
    claims.replace(claims.indexOf("\xFF\xC0") + 5, 4, QByteArray("\xFF\xDC\xFF\xDC", 4));
    WriteBytes(huge, claims);
    WriteTruncatedPicture(cut);
    QFile sparse(video);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(3) << 30));
    TThumbnailCache cache;
    const auto failures = cache.Fill({small, huge, video, cut}, QSize(150, 112));
    EXPECT_EQ(cache.Count(), 1);
    ASSERT_EQ(failures.size(), 3u);
    const QStringList files{huge, video, cut};
    const QStringList reasons{"larger than", "64 MB", "cannot be decoded"};
    for (qsizetype i = 0; i < 3; ++i) {
        EXPECT_EQ(failures[size_t(i)].FileName, files[i]);
        EXPECT_TRUE(failures[size_t(i)].Error.message().contains(reasons[i]))
            << failures[size_t(i)].Error.what();
    }
}

} // namespace
