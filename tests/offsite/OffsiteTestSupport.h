#pragma once

#include "OffsiteTarget.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <map>

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
inline QString PicturePath(const QString& sceneDir, const QString& scene, int index) {
    return QStringLiteral("%1/20261209/%2/20261209%3.jpg")
        .arg(sceneDir, scene, QStringLiteral("%1").arg(100000000 + index, 9, 10, QChar('0')));
}

// Stores Count pictures of one scene; returns their contents by path.
inline std::map<QString, QByteArray> StoreScene(const QString& sceneDir, const QString& scene,
                                                int count, int first = 0, int size = 30000) {
    std::map<QString, QByteArray> pictures;
    for (int i = first; i < first + count; ++i) {
        const QString path = PicturePath(sceneDir, scene, i);
        pictures[path] = WritePicture(path, size);
    }
    return pictures;
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

// Every picture is below Root at its path, byte for byte, with nothing else
// there but, where HiddenMayStay, a hidden temporary of an interrupted upload.
inline void ExpectArrived(const QString& root, const QString& sceneDir,
                          const std::map<QString, QByteArray>& pictures,
                          bool hiddenMayStay = false) {
    QStringList expected, found;
    for (const auto& [path, data] : pictures) {
        const QString relative = OffsiteRelativePath(sceneDir, path);
        expected << relative;
        EXPECT_EQ(ReadAll(root + QLatin1Char('/') + relative), data) << relative.toStdString();
    }
    expected.sort();
    for (const QString& file : FilesBelow(root))
        if (!hiddenMayStay || !file.section(QLatin1Char('/'), -1).startsWith(QLatin1Char('.')))
            found << file;
    EXPECT_EQ(found, expected) << "no temporary or extra file on the target";
}
