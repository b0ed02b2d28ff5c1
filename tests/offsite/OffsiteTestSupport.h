#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>
#include <functional>

// Writes a picture-sized file of random bytes (with its folders); returns them.
inline QByteArray WritePicture(const QString& path, int size = 30000) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(quint32(qHash(path)));
    for (char& byte : data)
        byte = char(generator.bounded(256));
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return data;
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the event loop until Done holds or Milliseconds pass; returns Done().
inline bool WaitFor(const std::function<bool()>& done, int milliseconds) {
    const QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// The path of picture Index of a scene, as the scene maker names it.
inline QString PicturePath(const QString& sceneDir, const QString& day, const QString& scene,
                           int index) {
    return QStringLiteral("%1/%2/%3/%2%4.jpg")
        .arg(sceneDir, day, scene, QStringLiteral("%1").arg(100000000 + index, 9, 10, QChar('0')));
}

// Every file below Folder (relative paths, sorted), hidden ones included.
inline QStringList FilesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}
