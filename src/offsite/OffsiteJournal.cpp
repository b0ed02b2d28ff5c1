#include "OffsiteJournal.h"

#include "OffsiteTarget.h"
#include "TkaAtomicFile.h"
#include "TkaBoundedRead.h"

#include <QFile>
#include <QStringList>

namespace {

const QByteArray Header = QByteArrayLiteral("Tarvik off-site journal 1\n");

// Day and scene of "camera/day/scene/picture", then camera and picture.
struct TSortKey {
    QStringView Scene;
    QStringView Camera;
    QStringView Picture;
};

TSortKey KeyOf(const QString& path) {
    const qsizetype first = path.indexOf(QLatin1Char('/'));
    const qsizetype last = path.lastIndexOf(QLatin1Char('/'));
    if (first < 0 || last <= first)
        return {QStringView(), QStringView(path), QStringView()};
    const QStringView view(path);
    return {view.mid(first + 1, last - first - 1), view.left(first), view.mid(last + 1)};
}

} // namespace

bool TOffsiteOrder::operator()(const TOffsiteEntry& left, const TOffsiteEntry& right) const {
    const TSortKey a = KeyOf(left.RelativePath);
    const TSortKey b = KeyOf(right.RelativePath);
    if (const int scene = a.Scene.compare(b.Scene); scene != 0)
        return scene > 0;
    if (const int camera = a.Camera.compare(b.Camera); camera != 0)
        return camera < 0;
    if (const int picture = a.Picture.compare(b.Picture); picture != 0)
        return picture < 0;
    return left.RelativePath < right.RelativePath;
}

TOffsiteQueue TOffsiteJournal::Load() {
    FSkippedLines = 0;
    FProblem.clear();
    TOffsiteQueue queue;
    QFile file(FFileName);
    if (!file.exists())
        return queue;
    if (!file.open(QIODevice::ReadOnly)) {
        FProblem = QStringLiteral("Error reading File %1: %2").arg(FFileName, file.errorString());
        return queue;
    }
    // Read in chunks: QIODevice::read(MaxFileSize) would reserve the whole bound.
    QByteArray data;
    QString error;
    if (!TkaBoundedRead::ReadAll(file, MaxFileSize, data, error)) {
        FProblem = QStringLiteral("Error reading File %1: %2").arg(FFileName, error);
        return queue;
    }
    if (!data.startsWith(Header)) {
        FProblem = QStringLiteral("Error reading File %1: not an off-site journal").arg(FFileName);
        return queue;
    }
    const QList<QByteArray> lines = data.mid(Header.size()).split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const QStringList fields = QString::fromUtf8(line).split(QLatin1Char('\t'));
        if (fields.size() != 2 || !IsSafeRelativePath(fields[0]) || fields[1].isEmpty()) {
            ++FSkippedLines;
            continue;
        }
        queue.insert({fields[0], fields[1]});
    }
    return queue;
}

QByteArray TOffsiteJournal::Text(const TOffsiteQueue& queue) {
    QByteArray text = Header;
    for (const TOffsiteEntry& entry : queue)
        text += entry.RelativePath.toUtf8() + '\t' + entry.LocalPath.toUtf8() + '\n';
    return text;
}

void TOffsiteJournal::Save(const TOffsiteQueue& queue) const {
    TkaAtomicFile::Replace<EOffsiteJournal>(FFileName, Text(queue), [this](const QString& reason) {
        return QStringLiteral("Error writing File %1: %2").arg(FFileName, reason);
    });
}
