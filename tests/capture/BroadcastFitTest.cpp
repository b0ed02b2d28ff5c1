#include "BroadcastFit.h"

#include "StmJPG.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

constexpr qint64 MaxDatagram = 65507;

// A detailed picture, as a busy HD scene is: it compresses badly.
TJPEGImage Detailed(int width, int height, int quality) {
    QImage picture(width, height, QImage::Format_RGB888);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        uchar* line = picture.scanLine(y);
        for (int x = 0; x < width * 3; ++x)
            line[x] = uchar((x * 3 + y * 5) % 256 / 2 + random.bounded(96));
    }
    TJPEGImage image;
    image.Assign(picture);
    image.SetQuality(quality);
    image.Compress();
    image.FreeBitmap();
    return image;
}

QByteArray Written(const TStmJPG& picture, qint64 maxSize, bool& fits) {
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    fits = SaveFittingStmJPG(picture, stream, maxSize);
    return stream.data();
}

std::unique_ptr<TStmJPG> Read(const QByteArray& datagram) {
    QByteArray copy = datagram;
    QBuffer stream(&copy);
    stream.open(QIODevice::ReadOnly);
    std::unique_ptr<TStmObject> object = TStmObject::ReadStmObject(stream);
    return std::unique_ptr<TStmJPG>(dynamic_cast<TStmJPG*>(object.release()));
}

TEST(BroadcastFitTest, APictureThatFitsIsSentExactlyAsStored) {
    const TStmJPG picture(QStringLiteral("MyCam"), Detailed(160, 120, 50));
    QBuffer plain;
    plain.open(QIODevice::WriteOnly);
    picture.SaveToStream(plain);
    bool fits = false;
    EXPECT_EQ(Written(picture, MaxDatagram, fits), plain.data());
    EXPECT_TRUE(fits);
}

TEST(BroadcastFitTest, AnHdPictureTooLargeForOneDatagramArrivesAsAFittingCopy) {
    const TJPEGImage stored = Detailed(1920, 1080, 50);
    ASSERT_GT(stored.Size(), MaxDatagram);
    const QByteArray storedBytes = stored.JpegData();
    TStmJPG picture(QStringLiteral("Hall"), stored);
    picture.SetTime(46000.25);

    bool fits = false;
    const QByteArray datagram = Written(picture, MaxDatagram, fits);
    EXPECT_TRUE(fits);
    EXPECT_LE(datagram.size(), MaxDatagram);
    const std::unique_ptr<TStmJPG> received = Read(datagram);
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(received->Source(), "Hall");
    EXPECT_EQ(received->Time(), 46000.25);
    const QImage shown = received->Image().Decode();
    ASSERT_FALSE(shown.isNull());
    // Same picture, at most halved until it fitted, proportions kept.
    EXPECT_LE(shown.width(), 1920);
    EXPECT_GE(shown.width(), 240);
    EXPECT_EQ(shown.width() * 1080, shown.height() * 1920);
    // What was stored stays as it was, compressed only.
    EXPECT_EQ(picture.Image().JpegData(), storedBytes);
    EXPECT_FALSE(picture.Image().HasBitmap());
}

TEST(BroadcastFitTest, LowerQualityIsTriedBeforeTheSizeIsHalved) {
    // Just too large at quality 90; quality 60 fits at full size.
    const TJPEGImage high = Detailed(320, 240, 90);
    const TJPEGImage lower = Detailed(320, 240, 60);
    const TStmJPG picture(QStringLiteral("C"), high);
    const qint64 limit = lower.Size() + 20 + 1 + 64;
    ASSERT_GT(high.Size() + 21, limit);
    bool fits = false;
    const std::unique_ptr<TStmJPG> received = Read(Written(picture, limit, fits));
    ASSERT_TRUE(fits);
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(received->Image().Width(), 320);
    EXPECT_EQ(received->Image().Height(), 240);
}

TEST(BroadcastFitTest, WhatCannotFitAtAllIsWrittenAsItIsAndReported) {
    const TStmJPG picture(QString(200, QLatin1Char('n')), Detailed(160, 120, 50));
    QBuffer plain;
    plain.open(QIODevice::WriteOnly);
    picture.SaveToStream(plain);
    bool fits = true;
    EXPECT_EQ(Written(picture, 150, fits), plain.data());
    EXPECT_FALSE(fits);
}

} // namespace
