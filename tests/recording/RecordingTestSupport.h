#pragma once

#include "TJPEGImage.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QTime>
#include <ostream>

// Shared pieces of the recording suites: pictures, clock values and files.

// A small compressed picture, different for each Shade.
inline TJPEGImage TestPicture(int shade = 100, int size = 16) {
    QImage bitmap(size, size, QImage::Format_BGR888);
    bitmap.fill(QColor(shade, 255 - shade, shade / 2));
    TJPEGImage image;
    image.Assign(bitmap);
    image.Compress();
    return image;
}

// Days since 1899-12-30 for a local date and time.
double LocalTime(int year, int month, int day, int hour, int minute, int second, int msec = 0);

// Creates Path with any content (and its parents).
void WriteFile(const QString& path, const QByteArray& content = "x");
// Creates the directory and its parents.
void MakeDir(const QString& path);
// Sets the modification time of a file or directory to Days days ago.
void SetModified(const QString& path, double daysAgo);

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
