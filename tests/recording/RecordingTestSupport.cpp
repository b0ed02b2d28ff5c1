#include "RecordingTestSupport.h"

#include "kaGeneral.h"

#include <QFileInfo>
#include <cmath>
#include <sys/stat.h>
#include <utime.h>

double LocalTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    return QDateTimeToDateTime(
        QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::LocalTime));
}

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void MakeDir(const QString& path) {
    QDir().mkpath(path);
}

void SetModified(const QString& path, double daysAgo) {
    const qint64 seconds = QDateTime::currentSecsSinceEpoch() - std::llround(daysAgo * 86400.0);
    struct utimbuf times {};
    times.actime = static_cast<time_t>(seconds);
    times.modtime = static_cast<time_t>(seconds);
    ::utime(QFile::encodeName(path).constData(), &times);
}
