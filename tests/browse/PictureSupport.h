#pragma once

#include "TJPEGImage.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// Picture N of a test scene: one plain colour, far from the colours of the
// other numbers, so a drawn picture tells which file it came from.
inline QColor PictureColour(int number) {
    return QColor::fromHsv((number * 67) % 360, 255, 230);
}

// Writes a real JPEG file of Size in one colour, creating its folders.
inline void WritePicture(const QString& path, const QColor& colour, QSize size = QSize(64, 48)) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage bitmap(size, QImage::Format_RGB32);
    bitmap.fill(colour);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(90);
    jpeg.SaveToFile(path);
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A JPEG cut off in the middle of its picture data.
inline void WriteTruncatedPicture(const QString& path) {
    WritePicture(path, Qt::gray, QSize(320, 240));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray data = file.readAll();
    ASSERT_TRUE(file.resize(data.size() / 2));
}

// True when Actual is Expected within the losses of JPEG.
inline bool SameColour(const QColor& actual, const QColor& expected) {
    return std::abs(actual.red() - expected.red()) < 24 &&
           std::abs(actual.green() - expected.green()) < 24 &&
           std::abs(actual.blue() - expected.blue()) < 24;
}

// The 17-digit name of picture N of a scene started at 12:00:00.
inline QString PictureName(int number) {
    return QStringLiteral("20041231120000%1.jpg").arg(number, 3, 10, QLatin1Char('0'));
}
