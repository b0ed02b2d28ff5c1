#include "TJPEGImage.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A deterministic picture with gradients, waves and fine grain, like a camera scene.
QImage Scene(int width, int height, QImage::Format format = QImage::Format_BGR888) {
    QImage image(width, height, QImage::Format_RGB32);
    unsigned seed = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int grain = int((seed >> 16) % 16);
            const int r = x * 230 / std::max(1, width - 1) + grain;
            const int g = y * 230 / std::max(1, height - 1) + grain;
            const int b = int(120 + 100 * std::sin(x * 0.2) * std::cos(y * 0.15)) + grain;
            image.setPixel(x, y, qRgb(r, g, b));
        }
    return image.convertToFormat(format);
}

// Mean absolute difference per channel over the whole picture.
double MeanError(const QImage& a, const QImage& b) {
    EXPECT_EQ(a.size(), b.size());
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

bool Near(QRgb actual, QColor expected, int tolerance = 12) {
    return std::abs(qRed(actual) - expected.red()) <= tolerance &&
           std::abs(qGreen(actual) - expected.green()) <= tolerance &&
           std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

QByteArray Compressed(const QImage& bitmap, int quality = 75) {
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(quality);
    jpeg.Compress();
    return jpeg.JpegData();
}

// Offset of the first occurrence of marker FF Code, or -1.
qsizetype MarkerAt(const QByteArray& data, unsigned char code) {
    return data.indexOf(QByteArray("\xFF", 1) + char(code));
}

void ExpectLoadOrDecodeFails(const QByteArray& data) {
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromData(data);
    } catch (const EJPEG&) {
        return;
    }
    EXPECT_THROW(jpeg.Decode(), EJPEG) << "bytes: " << data.size();
}

TEST(TJPEGImageTest, RoundTripKeepsPictureAndOrientation) {
    // Top-left red, top-right blue, bottom green: catches swapped channels and flipped rows.
    QImage bitmap(48, 32, QImage::Format_BGR888);
    bitmap.fill(Qt::green);
    QPainter(&bitmap).fillRect(0, 0, 24, 16, Qt::red);
    QPainter(&bitmap).fillRect(24, 0, 24, 16, Qt::blue);

    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(90);
    jpeg.Compress();
    jpeg.FreeBitmap();
    EXPECT_FALSE(jpeg.HasBitmap());

    const QImage decoded = jpeg.Decode();
    EXPECT_EQ(decoded.format(), QImage::Format_BGR888);
    EXPECT_EQ(decoded.size(), QSize(48, 32));
    EXPECT_TRUE(Near(decoded.pixel(4, 4), Qt::red));
    EXPECT_TRUE(Near(decoded.pixel(43, 4), Qt::blue));
    EXPECT_TRUE(Near(decoded.pixel(24, 28), Qt::green));
    EXPECT_TRUE(jpeg.HasBitmap()) << "decoded copy cached until released";
}

TEST(TJPEGImageTest, OtherDecodersSeeTheSameColours) {
    // Guards against channels swapped on both the way in and the way out.
    QImage bitmap(16, 8, QImage::Format_BGR888);
    bitmap.fill(Qt::red);
    QPainter(&bitmap).fillRect(8, 0, 8, 8, QColor(Qt::blue));
    const QImage independent = QImage::fromData(Compressed(bitmap, 95), "JPEG");
    if (independent.isNull())
        GTEST_SKIP() << "no JPEG image plugin to compare with";
    EXPECT_TRUE(Near(independent.pixel(2, 4), Qt::red));
    EXPECT_TRUE(Near(independent.pixel(13, 4), Qt::blue));
}

TEST(TJPEGImageTest, TexturedRoundTripWithinTolerance) {
    const QImage bitmap = Scene(160, 120);
    TJPEGImage jpeg;
    jpeg.LoadFromData(Compressed(bitmap, 90));
    EXPECT_LT(MeanError(bitmap, jpeg.Decode()), 6.0);
}

TEST(TJPEGImageTest, OddSizesRoundTripWithRowPadding) {
    // Widths whose rows are padded in the bitmap and not a multiple of the block size.
    for (const QSize size :
         {QSize(1, 1), QSize(1, 23), QSize(23, 1), QSize(5, 7), QSize(13, 9), QSize(67, 35)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        QImage bitmap(size, QImage::Format_BGR888);
        // Each row its own colour: a wrong row stride shears the picture.
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                bitmap.setPixelColor(x, y,
                                     (y / 4) % 2 == 0 ? QColor(200, 40, 40) : QColor(30, 60, 220));
        TJPEGImage jpeg;
        jpeg.LoadFromData(Compressed(bitmap, 95));
        EXPECT_EQ(jpeg.Width(), size.width());
        EXPECT_EQ(jpeg.Height(), size.height());
        EXPECT_LT(MeanError(bitmap, jpeg.Decode()), 16.0);
    }
}

TEST(TJPEGImageTest, ProducesBaselineColourStream) {
    const QByteArray data = Compressed(Scene(40, 30));
    ASSERT_GE(data.size(), 4);
    EXPECT_EQ(data.left(2), QByteArray("\xFF\xD8", 2));
    EXPECT_EQ(data.right(2), QByteArray("\xFF\xD9", 2));
    const qsizetype sof = MarkerAt(data, 0xC0);
    ASSERT_GT(sof, 0) << "baseline frame header";
    EXPECT_EQ(MarkerAt(data, 0xC2), -1) << "not progressive";
    EXPECT_EQ(int(static_cast<unsigned char>(data[sof + 9])), 3) << "three colour components";
}

TEST(TJPEGImageTest, QualityChangesSizeAndIsClamped) {
    const QImage bitmap = Scene(320, 240);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(10);
    jpeg.Compress();
    const QByteArray low = jpeg.JpegData();
    jpeg.Compress();
    EXPECT_EQ(jpeg.JpegData(), low) << "compressing again at the same quality changes nothing";
    jpeg.SetQuality(90);
    jpeg.Compress();
    EXPECT_GT(jpeg.Size(), low.size() * 2);

    jpeg.SetQuality(0);
    EXPECT_EQ(jpeg.Quality(), 1);
    jpeg.SetQuality(-40);
    EXPECT_EQ(jpeg.Quality(), 1);
    jpeg.SetQuality(101);
    EXPECT_EQ(jpeg.Quality(), 100);
    jpeg.SetQuality(1);
    EXPECT_LT(jpeg.Size(), low.size()) << "quality 1 is the smallest";
    EXPECT_EQ(TJPEGImage().Quality(), TJPEGImage::DefaultQuality);
}

TEST(TJPEGImageTest, FreeBitmapNeverLosesAnUncompressedPicture) {
    TJPEGImage jpeg;
    jpeg.Assign(Scene(30, 20));
    jpeg.FreeBitmap();
    EXPECT_FALSE(jpeg.HasBitmap());
    EXPECT_FALSE(jpeg.Empty());
    EXPECT_GT(jpeg.Size(), 0);
    EXPECT_EQ(jpeg.Width(), 30);
    EXPECT_EQ(jpeg.Height(), 20);
    EXPECT_EQ(jpeg.Decode().size(), QSize(30, 20));
}

TEST(TJPEGImageTest, AssignTakesACopyOfTheBitmap) {
    QImage bitmap(16, 16, QImage::Format_BGR888);
    bitmap.fill(Qt::red);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    bitmap.fill(Qt::blue);
    jpeg.FreeBitmap();
    EXPECT_TRUE(Near(jpeg.Decode().pixel(8, 8), Qt::red));
}

TEST(TJPEGImageTest, AssignConvertsOtherFormats) {
    QImage indexed(8, 8, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    indexed.fill(1);
    QImage argb(8, 8, QImage::Format_ARGB32);
    argb.fill(QColor(10, 200, 90));
    for (const auto& [bitmap, colour] :
         {std::pair{indexed, QColor(Qt::white)}, std::pair{argb, QColor(10, 200, 90)}}) {
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        EXPECT_EQ(jpeg.Decode().format(), QImage::Format_BGR888);
        jpeg.FreeBitmap();
        EXPECT_TRUE(Near(jpeg.Decode().pixel(3, 3), colour));
    }
}

TEST(TJPEGImageTest, EmptyImageAndNullBitmap) {
    TJPEGImage jpeg;
    EXPECT_TRUE(jpeg.Empty());
    EXPECT_EQ(jpeg.Size(), 0);
    EXPECT_TRUE(jpeg.Decode().isNull());
    QImage canvas(4, 4, QImage::Format_RGB32);
    QPainter painter(&canvas);
    jpeg.Draw(painter, QPoint(0, 0));
    jpeg.StretchDraw(painter, canvas.rect());

    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    jpeg.SaveToStream(buffer);
    EXPECT_EQ(buffer.size(), 0) << "an empty image saves no bytes";
    buffer.seek(0);
    jpeg.Assign(Scene(4, 4));
    jpeg.LoadFromStream(buffer);
    EXPECT_TRUE(jpeg.Empty()) << "and no bytes load an empty image";
    EXPECT_EQ(jpeg.Width(), 0);

    jpeg.Assign(Scene(4, 4));
    jpeg.Assign(QImage());
    EXPECT_TRUE(jpeg.Empty());
}

TEST(TJPEGImageTest, SavedBytesAreExactlyTheCompressedOrLoadedBytes) {
    const QByteArray original = Compressed(Scene(50, 40), 60);
    TJPEGImage jpeg;
    jpeg.LoadFromData(original);
    // Neither decoding, compressing nor another quality may re-encode a loaded picture.
    jpeg.Decode();
    jpeg.SetQuality(20);
    jpeg.Compress();

    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("prefix");
    jpeg.SaveToStream(buffer);
    EXPECT_EQ(buffer.data().mid(6), original);

    buffer.seek(6);
    TJPEGImage reloaded;
    reloaded.LoadFromStream(buffer);
    EXPECT_EQ(reloaded.JpegData(), original);
    EXPECT_EQ(reloaded.Width(), 50);
    EXPECT_EQ(reloaded.Height(), 40);

    QTemporaryDir dir;
    const QString path = dir.filePath("picture.jpg");
    jpeg.SaveToFile(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), original);
    TJPEGImage fromFile;
    fromFile.LoadFromFile(path);
    EXPECT_EQ(fromFile.JpegData(), original);

    const TJPEGImage copy = fromFile;
    EXPECT_EQ(copy.JpegData(), original);
}

TEST(TJPEGImageTest, DataThatIsNotJpegIsRejectedAtLoad) {
    const QByteArray original = Compressed(Scene(8, 8));
    TJPEGImage jpeg;
    jpeg.LoadFromData(original);
    for (const QByteArray& bad :
         {QByteArray("hello, world"), QByteArray("\x89PNG\r\n\x1a\n0000", 12),
          QByteArray("\xFF\xD8", 2), QByteArray("\xFF\xD8\xFF\xD9", 4), QByteArray(1, '\0'),
          QByteArray(original).remove(0, 2)}) {
        try {
            jpeg.LoadFromData(bad);
            ADD_FAILURE() << "accepted " << bad.toHex().left(16).constData();
        } catch (const EJPEG& e) {
            EXPECT_TRUE(e.message().startsWith("Not a valid JPEG picture (")) << e.what();
        }
        EXPECT_EQ(jpeg.JpegData(), original) << "a rejected load leaves the picture";
        EXPECT_EQ(jpeg.Width(), 8);
    }
}

TEST(TJPEGImageTest, EveryTruncationFailsAtLoadOrDecodeWithoutOutput) {
    const QByteArray data = Compressed(Scene(40, 24), 80);
    int loadedButUndecodable = 0;
    testing::internal::CaptureStderr();
    for (qsizetype cut = 1; cut < data.size(); ++cut) {
        const QByteArray part = data.left(cut);
        ExpectLoadOrDecodeFails(part);
        TJPEGImage jpeg;
        try {
            jpeg.LoadFromData(part);
        } catch (const EJPEG&) {
            continue;
        }
        ++loadedButUndecodable;
        EXPECT_EQ(jpeg.Width(), 40) << "header read at load";
        QImage canvas(40, 24, QImage::Format_RGB32);
        QPainter painter(&canvas);
        EXPECT_THROW(jpeg.Draw(painter, QPoint(0, 0)), EJPEG);
        EXPECT_THROW(jpeg.StretchDraw(painter, canvas.rect()), EJPEG);
        EXPECT_FALSE(jpeg.HasBitmap()) << "no partial picture is cached";
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // Exactly the cuts that keep the whole header load.
    const qsizetype sos = MarkerAt(data, 0xDA);
    ASSERT_GT(sos, 0);
    const qsizetype headerEnd = sos + 2 + ((uchar(data[sos + 2]) << 8) | uchar(data[sos + 3]));
    EXPECT_EQ(loadedButUndecodable, data.size() - headerEnd);
}

TEST(TJPEGImageTest, CorruptDataLoadsButFailsToDecode) {
    const QByteArray data = Compressed(Scene(64, 64), 80);
    const qsizetype sos = MarkerAt(data, 0xDA);
    ASSERT_GT(sos, 0);

    // An end marker in the middle of the scan data.
    QByteArray cutShort = data;
    cutShort.replace(sos + (data.size() - sos) / 2, 2, QByteArray("\xFF\xD9", 2));
    // No quantisation tables at all.
    QByteArray noTables = data;
    for (qsizetype dqt; (dqt = MarkerAt(noTables, 0xDB)) >= 0;) {
        const int length = (uchar(noTables[dqt + 2]) << 8) | uchar(noTables[dqt + 3]);
        noTables.remove(dqt, 2 + length);
    }

    for (const QByteArray& bad : {cutShort, noTables}) {
        TJPEGImage jpeg;
        jpeg.LoadFromData(bad);
        EXPECT_EQ(jpeg.Width(), 64);
        try {
            jpeg.Decode();
            ADD_FAILURE() << "decoded corrupt data";
        } catch (const EJPEG& e) {
            EXPECT_TRUE(e.message().startsWith("JPEG picture cannot be decoded (")) << e.what();
        }
        EXPECT_THROW(jpeg.Decode(), EJPEG) << "fails again, not cached";
        EXPECT_EQ(jpeg.JpegData(), bad) << "the loaded bytes are kept as they are";
    }
}

TEST(TJPEGImageTest, HugeDimensionsLoadButAreNotDecoded) {
    QByteArray data = Compressed(Scene(16, 16));
    const qsizetype sof = MarkerAt(data, 0xC0);
    ASSERT_GT(sof, 0);
    // Height and width 60000 in the frame header.
    data.replace(sof + 5, 4, QByteArray("\xEA\x60\xEA\x60", 4));
    TJPEGImage jpeg;
    jpeg.LoadFromData(data);
    EXPECT_EQ(jpeg.Width(), 60000);
    EXPECT_THROW(jpeg.Decode(), EJPEG);
}

TEST(TJPEGImageTest, HostileFilesAndDataAreRefusedByTheirSizeOrHeaderAlone) {
    QTemporaryDir dir;
    // Sparse: far beyond any picture, yet no disk space.
    const QString huge = dir.filePath("huge.jpg");
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(qint64(3) << 30));
    }
    // The refusal's text; empty when Call is not refused.
    const auto refusal = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const EJPEG& error) {
            return error.message();
        }
        return QString();
    };
    // A device that never ends is read up to the bound only.
    for (const QString& fileName : {huge, QStringLiteral("/dev/zero")}) {
        const QString why = refusal([&] { TJPEGImage::ReadFileData(fileName); });
        EXPECT_TRUE(why.contains(fileName) && why.contains("64 MB")) << why.toStdString();
    }

    const QByteArray good = Compressed(Scene(16, 16));
    EXPECT_EQ(TJPEGImage::CheckData(good), QSize(16, 16));
    QByteArray claims = good;
    const qsizetype sof = MarkerAt(claims, 0xC0);
    ASSERT_GT(sof, 0);
    claims.replace(sof + 5, 4, QByteArray("\xFF\xDC\xFF\xDC", 4)); // 65500 x 65500
    const struct {
        QByteArray Data;
        const char* Reason;
    } cases[] = {{claims, "larger than"},
                 {good.left(good.size() - 40), "cut short"},
                 {good.left(good.size() - 2), "cut short"},
                 {QByteArray("GIF89a"), "Not a valid"},
                 {QByteArray(), "no data"}};
    for (const auto& c : cases)
        EXPECT_TRUE(refusal([&] { TJPEGImage::CheckData(c.Data); }).contains(c.Reason)) << c.Reason;
    // Not even a reduced decoding is tried for such a header.
    EXPECT_TRUE(refusal([&] {
                    TJPEGImage::DecodeScaled(claims, QSize(100, 100));
                }).contains("larger than"));
}

TEST(TJPEGImageTest, DrawAndStretchDrawPlaceThePicture) {
    QImage bitmap(4, 4, QImage::Format_BGR888);
    bitmap.fill(Qt::red);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(100);
    jpeg.FreeBitmap();

    QImage canvas(10, 10, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        jpeg.Draw(painter, QPoint(-2, 7)); // cut on the left and at the bottom
    }
    EXPECT_TRUE(Near(canvas.pixel(0, 7), Qt::red));
    EXPECT_TRUE(Near(canvas.pixel(1, 9), Qt::red));
    EXPECT_TRUE(Near(canvas.pixel(2, 7), Qt::black));
    EXPECT_TRUE(Near(canvas.pixel(0, 6), Qt::black));

    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        jpeg.StretchDraw(painter, QRect(1, 1, 8, 3));
    }
    EXPECT_TRUE(Near(canvas.pixel(8, 3), Qt::red));
    EXPECT_TRUE(Near(canvas.pixel(9, 3), Qt::black));
    EXPECT_TRUE(Near(canvas.pixel(8, 4), Qt::black));
}

TEST(TJPEGImageTest, StreamAndFileFailuresAreReported) {
    TJPEGImage jpeg;
    jpeg.Assign(Scene(8, 8));
    QBuffer closed;
    EXPECT_THROW(jpeg.SaveToStream(closed), EJPEG);
    EXPECT_THROW(jpeg.LoadFromStream(closed), EJPEG);

    QTemporaryDir dir;
    EXPECT_THROW(jpeg.LoadFromFile(dir.filePath("missing.jpg")), EJPEG);
    EXPECT_THROW(jpeg.SaveToFile(dir.filePath("no/such/dir/x.jpg")), EJPEG);
    EXPECT_EQ(jpeg.Width(), 8) << "failures leave the picture";
}

} // namespace

TEST(TJPEGImageTest, ScreenFormatPicturesCompressToTheSameBytesAndStayCopies) {
    // Odd widths pad the BGR888 rows; each quality has its own tables.
    for (const QSize size : {QSize(33, 17), QSize(160, 120)}) {
        const QImage bgr = Scene(size.width(), size.height());
        QImage rgb32 = bgr.convertToFormat(QImage::Format_RGB32);
        for (const int quality : {1, 50, 100}) {
            SCOPED_TRACE(testing::Message() << size.width() << " q" << quality);
            TJPEGImage fromBgr, fromRgb32;
            fromBgr.Assign(bgr);
            fromBgr.SetQuality(quality);
            fromRgb32.Assign(rgb32);
            fromRgb32.SetQuality(quality);
            EXPECT_EQ(fromRgb32.JpegData(), fromBgr.JpegData());
            EXPECT_EQ(fromRgb32.Decode().format(), QImage::Format_BGR888);
        }
        // Changing the source after Assign does not change the picture.
        TJPEGImage jpeg;
        jpeg.Assign(rgb32);
        rgb32.fill(Qt::blue);
        TJPEGImage reference;
        reference.Assign(bgr);
        EXPECT_EQ(jpeg.JpegData(), reference.JpegData());
    }
}
