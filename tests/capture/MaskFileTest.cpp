// The mask step and the mask files, without any widget.

#include "UnprivilegedScope.h"
#include "kaFramePipeline.h"
#include "kaMaskBitmap.h"
#include "kaMaskFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <zlib.h>

namespace {

// The rule itself, pixel by pixel: each colour value ANDed with the mask
// pixel's colour at the same place; beyond the mask nothing changes.
QImage PerPixelRule(const QImage& picture, const QImage& mask) {
    QImage result = picture.copy();
    const bool indexed = mask.format() == QImage::Format_Indexed8;
    const QList<QRgb> table = mask.colorTable();
    const QImage rgb = indexed ? QImage() : mask.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < std::min(picture.height(), mask.height()); ++y)
        for (int x = 0; x < std::min(picture.width(), mask.width()); ++x) {
            QRgb m = 0;
            if (!indexed)
                m = reinterpret_cast<const QRgb*>(rgb.constScanLine(y))[x];
            else if (const int i = mask.constScanLine(y)[x]; i < table.size())
                m = table[i];
            uchar* p = result.scanLine(y) + 3 * x;
            p[0] &= uchar(qBlue(m));
            p[1] &= uchar(qGreen(m));
            p[2] &= uchar(qRed(m));
        }
    return result;
}

QImage Noise(QSize size, QImage::Format format, quint32 seed) {
    QRandomGenerator random(seed);
    QImage picture(size, format);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < picture.bytesPerLine(); ++x)
            picture.scanLine(y)[x] = uchar(random.bounded(256));
    return picture;
}

QImage NoiseMask(QSize size, quint32 seed) {
    QImage mask = Noise(size, QImage::Format_Indexed8, seed);
    QRandomGenerator random(seed + 1);
    QList<QRgb> table;
    for (int i = 0; i < 200; ++i) // fewer entries than index values
        table.append(random.generate() | 0xff000000u);
    mask.setColorTable(table);
    return mask;
}

bool SameBytes(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), std::size_t(a.width()) * 3) != 0)
            return false;
    return true;
}

TEST(MaskLayoutTest, MaskedPictureIsBitForBitThePerPixelRule) {
    const QImage white = MaskBitmap::White(1024, 768);
    QImage painted = white;
    MaskBitmap::DrawLine(painted, {-10, 300}, {2000, 310}, 20, true);
    MaskBitmap::DrawLine(painted, {500, 0}, {520, 767}, 5, true);
    const std::vector<QImage> masks{white,
                                    painted,
                                    NoiseMask({1024, 768}, 7),
                                    NoiseMask({300, 50}, 8),
                                    Noise({1024, 768}, QImage::Format_RGB32, 9),
                                    Noise({700, 900}, QImage::Format_RGB555, 10),
                                    Noise({64, 64}, QImage::Format_BGR888, 11)};
    // Smaller and larger than the mask, and an odd width whose rows are padded.
    const std::vector<QSize> sizes{{640, 480}, {1100, 800}, {1025, 769}, {333, 17}};
    TkaMaskLayout layout;
    for (const QSize& size : sizes)
        for (std::size_t m = 0; m < masks.size(); ++m) {
            const QImage picture = Noise(size, QImage::Format_BGR888, quint32(size.width() + m));
            QImage masked = picture.copy();
            // The same layout object throughout: it must notice every change.
            layout.Apply(masked, masks[m]);
            EXPECT_TRUE(SameBytes(masked, PerPixelRule(picture, masks[m])))
                << size.width() << "x" << size.height() << " mask " << m;
            QImage once = picture.copy();
            ApplyMask(once, masks[m]);
            EXPECT_TRUE(SameBytes(once, masked));
        }
    // The white default changes nothing and is recognised as such.
    QImage picture = Noise({640, 480}, QImage::Format_BGR888, 1);
    const QImage before = picture.copy();
    layout.Apply(picture, white);
    EXPECT_TRUE(layout.KeepsEverything());
    EXPECT_TRUE(SameBytes(picture, before));
}

TEST(MaskLayoutTest, AStrokeOnTheSameMaskTakesEffectAtTheNextFrame) {
    QImage mask = MaskBitmap::White(1024, 768);
    TkaMaskLayout layout;
    const QImage picture = Noise({640, 480}, QImage::Format_BGR888, 3);
    QImage first = picture.copy();
    layout.Apply(first, mask);
    EXPECT_TRUE(SameBytes(first, picture));

    // Painted in place, as the mask editor does between two frames.
    MaskBitmap::DrawLine(mask, {100, 100}, {200, 100}, 10, true);
    QImage second = picture.copy();
    layout.Apply(second, mask);
    EXPECT_EQ(second.pixelColor(150, 100), QColor(Qt::black));
    EXPECT_TRUE(SameBytes(second, PerPixelRule(picture, mask)));

    MaskBitmap::Clear(mask);
    QImage third = picture.copy();
    layout.Apply(third, mask);
    EXPECT_TRUE(SameBytes(third, picture));
}

// ---- Mask files -----------------------------------------------------------------------

QByteArray Inflate(const QByteArray& stream) {
    QByteArray out(8 << 20, '\0');
    uLongf size = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                   reinterpret_cast<const Bytef*>(stream.constData()),
                   uLong(stream.size())) != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

QByteArray Deflate(const QByteArray& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()), level);
    out.resize(qsizetype(size));
    return out;
}

quint32 U32(const QByteArray& data, int at) {
    return qFromLittleEndian<quint32>(data.constData() + at);
}
quint16 U16(const QByteArray& data, int at) {
    return qFromLittleEndian<quint16>(data.constData() + at);
}

// A BMP written by hand: Rows top row first, already packed and padded.
QByteArray Bmp(int width, int height, int bits, quint32 compression, const QList<QRgb>& table,
               const QList<QByteArray>& rows, quint32 claimedColours = 0,
               const QByteArray& masks = {}) {
    QByteArray info(40, '\0');
    qToLittleEndian<quint32>(40, info.data());
    qToLittleEndian<qint32>(width, info.data() + 4);
    qToLittleEndian<qint32>(height, info.data() + 8);
    qToLittleEndian<quint16>(1, info.data() + 12);
    qToLittleEndian<quint16>(quint16(bits), info.data() + 14);
    qToLittleEndian<quint32>(compression, info.data() + 16);
    qToLittleEndian<quint32>(claimedColours ? claimedColours : quint32(table.size()),
                             info.data() + 32);
    QByteArray colours;
    for (QRgb c : table) {
        const char entry[4] = {char(qBlue(c)), char(qGreen(c)), char(qRed(c)), 0};
        colours.append(entry, 4);
    }
    QByteArray pixels;
    // Bottom-up unless the height is negative.
    for (int i = 0; i < rows.size(); ++i)
        pixels += rows[height < 0 ? i : int(rows.size()) - 1 - i];
    const quint32 offset = quint32(14 + 40 + masks.size() + colours.size());
    QByteArray file("BM");
    file.resize(14);
    qToLittleEndian<quint32>(offset + quint32(pixels.size()), file.data() + 2);
    qToLittleEndian<quint32>(0, file.data() + 6);
    qToLittleEndian<quint32>(offset, file.data() + 10);
    return file + info + masks + colours + pixels;
}

QByteArray Row(std::initializer_list<int> bytes) {
    QByteArray row;
    for (int b : bytes)
        row.append(char(b));
    while (row.size() % 4 != 0)
        row.append('\0');
    return row;
}

QString ReadError(const QByteArray& stream) {
    try {
        MaskFile::Decode(stream);
    } catch (const EMaskFile& error) {
        return error.message();
    }
    return QStringLiteral("<read>");
}

class MaskFileTest : public ::testing::Test {
protected:
    QString PathOf(const QString& name) const { return Folder.filePath(name); }
    QTemporaryDir Folder;
};

TEST_F(MaskFileTest, AWrittenMaskIsAZlibStreamOfABottomUpEightBitBmp) {
    QImage mask = MaskBitmap::White(1024, 768);
    MaskBitmap::DrawLine(mask, {0, 0}, {2, 0}, 3, true);           // top left
    MaskBitmap::DrawLine(mask, {1021, 767}, {1023, 767}, 3, true); // bottom right
    const QString path = PathOf("door.msk");
    MaskFile::Write(path, mask);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stream = file.readAll();
    EXPECT_EQ(quint8(stream[0]), 0x78);
    EXPECT_EQ(quint8(stream[1]), 0x9c) << "zlib's default level";
    const QByteArray bmp = Inflate(stream);
    ASSERT_FALSE(bmp.isEmpty());
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(U32(bmp, 2), quint32(bmp.size()));
    EXPECT_EQ(U32(bmp, 6), 0u);
    const quint32 offset = U32(bmp, 10);
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(U32(bmp, 18), 1024u);
    EXPECT_EQ(qint32(U32(bmp, 22)), 768);
    EXPECT_EQ(U16(bmp, 26), 1);
    EXPECT_EQ(U16(bmp, 28), 8);
    EXPECT_EQ(U32(bmp, 30), 0u);
    const quint32 colours = U32(bmp, 46);
    ASSERT_GE(colours, 2u);
    EXPECT_EQ(offset, 54 + 4 * colours);
    EXPECT_EQ(bmp.size(), qsizetype(offset) + 1024 * 768);
    // The colour table holds black and white; find their indices.
    int black = -1;
    int white = -1;
    for (quint32 i = 0; i < colours; ++i) {
        const quint32 entry = U32(bmp, int(54 + 4 * i));
        if (entry == 0)
            black = int(i);
        if (entry == 0x00ffffffu)
            white = int(i);
    }
    ASSERT_GE(black, 0);
    ASSERT_GE(white, 0);
    // Bottom row first: the painted bottom-right corner is in the first row.
    const auto pixel = [&](int x, int rowInFile) {
        return int(quint8(bmp[qsizetype(offset) + rowInFile * 1024 + x]));
    };
    EXPECT_EQ(pixel(1023, 0), black);
    EXPECT_EQ(pixel(0, 0), white);
    EXPECT_EQ(pixel(0, 767), black);
    EXPECT_EQ(pixel(500, 400), white);

    const QImage read = MaskFile::Read(path);
    ASSERT_EQ(read.size(), mask.size());
    for (int y : {0, 1, 383, 766, 767})
        for (int x = 0; x < 1024; ++x)
            ASSERT_EQ(read.pixel(x, y), mask.pixel(x, y)) << x << "," << y;
}

TEST_F(MaskFileTest, EveryUncompressedDepthIsReadAndWrittenBackAsItCame) {
    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    struct TCase {
        const char* Name;
        QByteArray Bmp;
        QRgb TopLeft;
        QRgb BottomRight;
    };
    const QByteArray masks565("\x00\xf8\x00\x00\xe0\x07\x00\x00\x1f\x00\x00\x00", 12);
    const std::vector<TCase> cases{
        {"1 bit", Bmp(3, 2, 1, 0, {red, blue}, {Row({0x40}), Row({0xa0})}), red, blue},
        {"4 bit",
         Bmp(3, 2, 4, 0, {red, blue, qRgb(9, 9, 9)}, {Row({0x12, 0x00}), Row({0x00, 0x10})}), blue,
         blue},
        {"8 bit top-down", Bmp(2, -2, 8, 0, {red, blue}, {Row({1, 0}), Row({0, 0})}), blue, red},
        {"16 bit 5-5-5", Bmp(2, 2, 16, 0, {}, {Row({0x00, 0x7c, 0, 0}), Row({0, 0, 0x1f, 0})}), red,
         blue},
        {"16 bit 5-6-5",
         Bmp(2, 2, 16, 3, {}, {Row({0x00, 0xf8, 0, 0}), Row({0, 0, 0x1f, 0})}, 0, masks565), red,
         blue},
        {"24 bit", Bmp(2, 2, 24, 0, {}, {Row({0, 0, 255, 0, 0, 0}), Row({0, 0, 0, 255, 0, 0})}),
         red, blue},
        {"32 bit", Bmp(1, 2, 32, 0, {}, {Row({255, 0, 0, 0}), Row({0, 0, 255, 0})}), blue, red},
    };
    for (const TCase& c : cases) {
        QImage mask;
        ASSERT_NO_THROW(mask = MaskFile::Decode(Deflate(c.Bmp))) << c.Name;
        EXPECT_EQ(mask.pixel(0, 0), c.TopLeft) << c.Name;
        EXPECT_EQ(mask.pixel(mask.width() - 1, mask.height() - 1), c.BottomRight) << c.Name;
        const QByteArray again = MaskFile::ToBmp(mask);
        EXPECT_EQ(U16(again, 28), U16(c.Bmp, 28)) << c.Name << ": depth kept";
        EXPECT_EQ(qint32(U32(again, 22)), std::abs(qint32(U32(c.Bmp, 22)))) << c.Name;
        const QImage reread = MaskFile::FromBmp(again);
        ASSERT_EQ(reread.size(), mask.size());
        for (int y = 0; y < mask.height(); ++y)
            for (int x = 0; x < mask.width(); ++x)
                EXPECT_EQ(reread.pixel(x, y), mask.pixel(x, y)) << c.Name << " " << x << "," << y;
    }
}

TEST_F(MaskFileTest, RunLengthCompressedBmpsAreReadAndWrittenUncompressed) {
    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    // 4 x 2, bottom row first: a run of 3 blue and a red, end of line; three
    // pixels as they are (red, blue, red, padded), end of picture.
    const QByteArray rle8 =
        Bmp(4, 2, 8, 1, {red, blue}, {Row({3, 1, 1, 0, 0, 0, 0, 3, 0, 1, 0, 0, 0, 1})});
    const QImage mask = MaskFile::Decode(Deflate(rle8));
    ASSERT_EQ(mask.size(), QSize(4, 2));
    EXPECT_EQ(mask.pixel(0, 0), red);
    EXPECT_EQ(mask.pixel(1, 0), blue);
    EXPECT_EQ(mask.pixel(3, 0), red) << "skipped by the runs: index 0";
    EXPECT_EQ(mask.pixel(2, 1), blue);
    EXPECT_EQ(mask.pixel(3, 1), red);
    const QByteArray written = MaskFile::ToBmp(mask);
    EXPECT_EQ(U32(written, 30), 0u);
    EXPECT_EQ(U16(written, 28), 8);

    // RLE4: alternating nibbles; a move by (1, 1) then one pixel.
    const QByteArray rle4 =
        Bmp(4, 2, 4, 2, {red, blue}, {Row({4, 0x10, 0, 0, 0, 2, 1, 0, 1, 0x10, 0, 1})});
    const QImage four = MaskFile::Decode(Deflate(rle4));
    EXPECT_EQ(four.pixel(0, 1), blue);
    EXPECT_EQ(four.pixel(1, 1), red);
    EXPECT_EQ(four.pixel(2, 1), blue);
    EXPECT_EQ(four.pixel(3, 1), red);
    EXPECT_EQ(four.pixel(0, 0), red);
    EXPECT_EQ(four.pixel(1, 0), blue);
    EXPECT_EQ(U16(MaskFile::ToBmp(four), 28), 4);

    EXPECT_TRUE(
        ReadError(Deflate(Bmp(4, 2, 8, 1, {red, blue}, {Row({0, 9, 1})}))).contains("cut short"));
    EXPECT_TRUE(
        ReadError(Deflate(Bmp(4, -2, 8, 1, {red, blue}, {Row({0, 1})}))).contains("top-down"));
    EXPECT_TRUE(
        ReadError(Deflate(Bmp(4, 2, 4, 1, {red, blue}, {Row({0, 1})}))).contains("compression 1"));
}

TEST_F(MaskFileTest, BadFilesAreRefusedWithTheirReason) {
    const QByteArray good = Bmp(2, 2, 8, 0, {0, 0xffffffu}, {Row({1, 0}), Row({0, 1})});
    ASSERT_NO_THROW(MaskFile::Decode(Deflate(good)));

    EXPECT_TRUE(ReadError("BM plain bytes, no zlib").contains("no zlib stream"));
    EXPECT_TRUE(
        ReadError(Deflate("GIF89a and more text than a header has, ......................."))
            .contains("\"BM\""));
    EXPECT_TRUE(ReadError(Deflate(good).left(12)).contains("cut short"));
    QByteArray damaged = Deflate(good);
    damaged[damaged.size() - 1] = char(damaged[damaged.size() - 1] ^ 0x55); // Adler-32
    EXPECT_TRUE(ReadError(damaged).contains("damaged"));

    EXPECT_TRUE(ReadError(Deflate(Bmp(2, 2, 8, 4, {0, 0xffffffu}, {Row({1, 0}), Row({0, 1})})))
                    .contains("compression 4"));
    EXPECT_TRUE(ReadError(Deflate(Bmp(2, 2, 2, 0, {0, 0xffffffu}, {Row({0}), Row({0})})))
                    .contains("2 bits"));
    // 256 colours claimed, two present: the pixels would be read as colours.
    EXPECT_TRUE(ReadError(Deflate(Bmp(2, 2, 8, 0, {0, 0xffffffu}, {Row({1, 0}), Row({0, 1})}, 256)))
                    .contains("colour table"));
    EXPECT_TRUE(ReadError(Deflate(Bmp(2, 2, 1, 0, {0, 0xffffffu}, {Row({0}), Row({0})}, 3)))
                    .contains("claims 3 colours"));
    // Rows missing at the end.
    EXPECT_TRUE(ReadError(Deflate(Bmp(2, 3, 8, 0, {0, 0xffffffu}, {Row({1, 0}), Row({0, 1})})))
                    .contains("cut short"));
    // Sizes beyond the bounds are refused from the header alone.
    EXPECT_TRUE(
        ReadError(Deflate(Bmp(20000, 2, 8, 0, {0, 0xffffffu}, {}))).contains("larger than"));
    EXPECT_TRUE(ReadError(Deflate(Bmp(16384, 16384, 32, 0, {}, {}))).contains("MB"));
    QByteArray inside = good;
    qToLittleEndian<quint32>(20, inside.data() + 10); // pixels inside the headers
    EXPECT_TRUE(ReadError(Deflate(inside)).contains("inside the headers"));
}

TEST_F(MaskFileTest, AZlibBombIsRefusedBeforeItFillsTheMemory) {
    // A 2 x 2 picture followed by 64 MB of zeros: about 64 kB compressed.
    QByteArray bomb = Bmp(2, 2, 8, 0, {0, 0xffffffu}, {Row({1, 0}), Row({0, 1})});
    bomb.append(QByteArray(64 << 20, '\0'));
    const QByteArray stream = Deflate(bomb);
    bomb.clear();
    EXPECT_TRUE(ReadError(stream).contains("more than")) << ReadError(stream).toStdString();
    EXPECT_THROW(MaskFile::Decompress(stream, 1 << 20), EMaskFile);
}

TEST_F(MaskFileTest, HostileRunsAndOffsetsStayInsideThePicture) {
    const QList<QRgb> table{qRgb(0, 0, 0), qRgb(255, 255, 255)};
    // Enough moves right to carry a column past the largest int, then pixels.
    const QByteArray deltas = QByteArray("\x00\x02\xff\x00", 4).repeated(8500000);
    const QByteArray tail("\x04\x01\x00\x04\x01\x01\x01\x01\x00\x00\x00\x01", 12);
    for (const auto& [bits, compression] : {std::pair{8, 1u}, std::pair{4, 2u}}) {
        // Wide and high enough that the runs may hold all these records.
        const QByteArray stream =
            Deflate(Bmp(16384, 1100, bits, compression, table, {deltas + tail}), Z_BEST_SPEED);
        const QImage mask = MaskFile::Decode(stream);
        EXPECT_EQ(mask.size(), QSize(16384, 1100));
        EXPECT_EQ(mask.pixel(16383, 1099), table[0]);
    }
    // Moves up and right beyond the picture end it; the rows below keep their runs.
    const QByteArray up = Bmp(4, 2, 8, 1, table, {Row({2, 1, 0, 2, 200, 200, 4, 1, 0, 0, 0, 1})});
    const QImage moved = MaskFile::Decode(Deflate(up));
    EXPECT_EQ(moved.pixel(0, 1), table[1]);
    EXPECT_EQ(moved.pixel(2, 1), table[0]);
    EXPECT_EQ(moved.pixel(0, 0), table[0]);

    // Pixel data claimed far beyond the headers: refused before any inflating.
    QByteArray far = Bmp(2, 2, 8, 0, table, {Row({1, 0}), Row({0, 1})});
    qToLittleEndian<quint32>(4000000000u, far.data() + 10);
    EXPECT_TRUE(ReadError(Deflate(far)).contains("more than"))
        << ReadError(Deflate(far)).toStdString();
}

TEST_F(MaskFileTest, AFailedSaveKeepsTheMaskFileThatWasThere) {
    QImage mask = MaskBitmap::White(1024, 768);
    const QString path = PathOf("Mask/door.msk");
    ASSERT_TRUE(QDir().mkpath(PathOf("Mask")));
    MaskFile::Write(path, mask);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    MaskBitmap::DrawLine(mask, {0, 0}, {1000, 700}, 20, true);
    ASSERT_EQ(::chmod(QFile::encodeName(PathOf("Mask")).constData(), 0555), 0);
    OpenPathForEverybody(QFile::encodeName(Folder.path()).constData());
    {
        UnprivilegedScope nobody;
        try {
            MaskFile::Write(path, mask);
            ADD_FAILURE() << "saved into a read-only folder";
        } catch (const EMaskFile& error) {
            EXPECT_TRUE(error.message().contains(path)) << error.message().toStdString();
        }
    }
    ::chmod(QFile::encodeName(PathOf("Mask")).constData(), 0755);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(QDir(PathOf("Mask")).entryList(QDir::Files | QDir::Hidden), QStringList{"door.msk"});
}

TEST_F(MaskFileTest, AFullDiskKeepsTheMaskFileThatWasThere) {
    const QByteArray disk = QFile::encodeName(PathOf("disk"));
    ASSERT_TRUE(QDir().mkpath(PathOf("disk")));
    if (::mount("tmpfs", disk.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        GTEST_SKIP() << "a full disk needs a small tmpfs, and mounting one needs root: "
                     << std::strerror(errno);
    const QString path = PathOf("disk/door.msk");
    QImage mask = MaskBitmap::White(1024, 768);
    MaskFile::Write(path, mask);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    {
        QFile filler(PathOf("disk/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    // Noise does not compress: far more than the disk holds.
    QRandomGenerator random(5);
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x)
            mask.scanLine(y)[x] = uchar(random.bounded(2));
    EXPECT_THROW(MaskFile::Write(path, mask), EMaskFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    file.close();
    EXPECT_EQ(QDir(PathOf("disk")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"door.msk", "filler"}));
    ::umount2(disk.constData(), MNT_DETACH);
}

} // namespace
