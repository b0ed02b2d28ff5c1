#include "ApplicationErrors.h"
#include "PictureSupport.h"
#include "TempProgramDir.h"
#include "ThumbnailCache.h"
#include "ThumbnailLoader.h"
#include "frImage.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaLabel.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>
// jpeglib.h needs FILE declared first.
#include <algorithm>
#include <jpeglib.h>
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

// The bilinear resampling as defined: each target pixel's centre placed on
// the source in 1/256 of a pixel, the two rows around it mixed, then the two
// columns, each channel rounded down.
QImage StretchedByDefinition(const QImage& source, QSize size) {
    const auto tap = [](int i, int from, int to) {
        const qint64 centre = (qint64(2 * i + 1) * from * 256) / (2 * to) - 128;
        const qint64 at = std::clamp<qint64>(centre, 0, qint64(from - 1) * 256);
        return std::pair<int, int>(int(at / 256), int(at % 256));
    };
    const auto mix = [](int a, int b, int weight) {
        return (a * (256 - weight) + b * weight) / 256;
    };
    QImage result(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        const auto [row, rowWeight] = tap(y, source.height(), size.height());
        const int nextRow = std::min(row + 1, source.height() - 1);
        for (int x = 0; x < size.width(); ++x) {
            const auto [column, columnWeight] = tap(x, source.width(), size.width());
            const int nextColumn = std::min(column + 1, source.width() - 1);
            int channels[3];
            for (int c = 0; c < 3; ++c) {
                const int shift = 16 - 8 * c;
                const auto at = [&](int px, int py) {
                    return int(source.pixel(px, py) >> shift & 0xff);
                };
                channels[c] =
                    mix(mix(at(column, row), at(column, nextRow), rowWeight),
                        mix(at(nextColumn, row), at(nextColumn, nextRow), rowWeight), columnWeight);
            }
            result.setPixel(x, y, qRgb(channels[0], channels[1], channels[2]));
        }
    }
    return result;
}

TEST_F(ImageFrameTest, StretchingGivesExactlyTheBilinearMixOfEveryPixel) {
    // Noise, so that a pixel taken from the wrong place or lane shows.
    QImage source(167, 125, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            source.setPixel(x, y, 0xff000000u | state >> 8);
        }
    }
    // Whole groups of eight columns and tails of every length, reductions,
    // enlargements, one pixel and the same size.
    const QSize sizes[] = {{150, 112}, {160, 120}, {151, 113}, {7, 5},   {9, 3},
                           {1, 1},     {167, 125}, {200, 150}, {83, 62}, {16, 1}};
    for (const QSize size : sizes) {
        const QImage expected = StretchedByDefinition(source, size);
        const QImage actual = Stretched(source, size);
        ASSERT_EQ(actual.size(), size);
        int wrong = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                wrong += actual.pixel(x, y) != expected.pixel(x, y) ? 1 : 0;
        EXPECT_EQ(wrong, 0) << size.width() << " x " << size.height();
    }
}

// An arithmetic-coded picture of Size in one colour, as a hostile sender
// could store one: far more work per pixel than the usual Huffman coding.
void WriteArithmeticPicture(const QString& path, QSize size, const QColor& colour) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    info.arith_code = TRUE;
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(size.width()) * 3);
    for (size_t x = 0; x < row.size(); x += 3) {
        row[x] = JSAMPLE(colour.red());
        row[x + 1] = JSAMPLE(colour.green());
        row[x + 2] = JSAMPLE(colour.blue());
    }
    JSAMPROW rows[1] = {row.data()};
    while (info.next_scanline < info.image_height)
        jpeg_write_scanlines(&info, rows, 1);
    jpeg_finish_compress(&info);
    WriteBytes(path, QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(length)));
    jpeg_destroy_compress(&info);
    free(buffer);
}

// Every thumbnail is decoded on the pool and answered from the event loop:
// good ones cached, each hostile one with its reason, none decoded twice.
TEST_F(ImageFrameTest, TheLoaderDecodesOnThePoolAndAnswersEachHostilePicture) {
    const QString small = PathOf("s0/small.jpg");
    WritePicture(small, PictureColour(0));
    const QString arithmetic = PathOf("s0/arithmetic.jpg");
    WriteArithmeticPicture(arithmetic, QSize(8000, 8000), PictureColour(1));
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
    // The decoder's scaling keeps the large picture's work at 1/8.
    EXPECT_EQ(
        TJPEGImage::DecodeScaled(TJPEGImage::ReadFileData(arithmetic), QSize(150, 112)).size(),
        QSize(1000, 1000));

    TThumbnailLoader loader;
    QStringList ready;
    QStringList failed;
    QStringList reasons;
    loader.OnReady = [&](const QString& fileName) { ready.append(fileName); };
    loader.OnFailed = [&](const QString& fileName, const EJPEG& error) {
        failed.append(fileName);
        reasons.append(error.message());
    };
    const QSize size(150, 112);
    const QStringList files{arithmetic, small, huge, video, cut, PathOf("gone.jpg")};
    for (int round = 0; round < 2; ++round) {
        for (const QString& file : files)
            EXPECT_TRUE(loader.Request(file, size, TFileStamp::Of(file)).isNull())
                << file.toStdString();
    }
    EXPECT_EQ(loader.Pending(), 5) << "asked twice, queued once; a missing file not at all";
    EXPECT_TRUE(ready.isEmpty()) << "answers come from the event loop only";
    ASSERT_TRUE(QTest::qWaitFor([&] { return loader.Pending() == 0; }, 30000));

    std::sort(ready.begin(), ready.end());
    EXPECT_EQ(ready, (QStringList{arithmetic, small}));
    EXPECT_EQ(failed, (QStringList{huge, video, cut}));
    const QStringList expected{"larger than", "64 MB", "cannot be decoded"};
    for (qsizetype i = 0; i < std::min(reasons.size(), expected.size()); ++i)
        EXPECT_TRUE(reasons[i].contains(expected[i])) << reasons[i].toStdString();
    for (int i : {0, 1}) {
        const QString& file = i == 0 ? small : arithmetic;
        const QImage thumbnail = loader.Request(file, size, TFileStamp::Of(file));
        ASSERT_EQ(thumbnail.size(), size);
        EXPECT_TRUE(SameColour(thumbnail.pixelColor(75, 56), PictureColour(i)));
    }
    EXPECT_EQ(loader.Pending(), 0) << "cached: nothing decoded again";
}

TEST_F(ImageFrameTest, TheLoaderHandsThumbnailsOverAFrameAtATimeAndStopsCleanly) {
    constexpr int Pictures = 60;
    QStringList files;
    for (int i = 0; i < Pictures; ++i) {
        files.append(PathOf(QStringLiteral("s%1/a.jpg").arg(i)));
        WritePicture(files.last(), PictureColour(i), QSize(1280, 960));
    }
    const auto requestAll = [&](TThumbnailLoader& loader, QSize size) {
        for (const QString& file : files)
            loader.Request(file, size, TFileStamp::Of(file));
    };

    // A hand-over is one turn of the event loop: a zero timer started at the
    // first thumbnail of a turn fires only after it.
    TThumbnailLoader loader;
    int handOvers = 0;
    bool turnMarked = false;
    QStringList ready;
    loader.OnReady = [&](const QString& fileName) {
        ready.append(fileName);
        if (!turnMarked) {
            turnMarked = true;
            ++handOvers;
            QTimer::singleShot(0, [&] { turnMarked = false; });
        }
    };
    QElapsedTimer clock;
    clock.start();
    requestAll(loader, QSize(150, 112));
    // Waits as the page does, woken by each event (QTest's wait polls).
    QTimer wake;
    wake.start(100);
    while (loader.Pending() > 0 && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ASSERT_EQ(loader.Pending(), 0);
    const qint64 took = clock.elapsed();
    EXPECT_EQ(ready.size(), Pictures);
    // One a frame, one a full batch, one when no decoding waits, the last.
    const qint64 bound = 2 + took / TThumbnailLoader::DeliveryIntervalMs +
                         qint64(Pictures / TThumbnailLoader::DeliveryBatch) + 1;
    EXPECT_LE(handOvers, bound) << "thumbnails were handed over one by one (" << took << " ms)";
    for (int i : {0, Pictures - 1})
        EXPECT_TRUE(SameColour(
            loader.Request(files[i], QSize(150, 112), TFileStamp::Of(files[i])).pixelColor(75, 56),
            PictureColour(i)));

    // Cancelled in the middle: nothing is owed, what still ran is answered
    // harmlessly, and the next request is served.
    ready.clear();
    requestAll(loader, QSize(80, 60));
    loader.CancelQueued();
    EXPECT_EQ(loader.Pending(), 0);
    QTest::qWait(100);
    EXPECT_LT(ready.size(), Pictures);
    EXPECT_TRUE(loader.Request(files[7], QSize(81, 61), TFileStamp::Of(files[7])).isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return loader.Pending() == 0; }, 30000));
    EXPECT_TRUE(ready.contains(files[7]));

    // Gone while its workers decode: they finish their picture and stop.
    auto leaving = std::make_unique<TThumbnailLoader>();
    bool called = false;
    leaving->OnReady = [&](const QString&) { called = true; };
    requestAll(*leaving, QSize(150, 112));
    leaving.reset();
    QTest::qWait(50);
    EXPECT_FALSE(called);
}

} // namespace
