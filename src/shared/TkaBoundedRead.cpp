#include "TkaBoundedRead.h"

#include <algorithm>

namespace {

constexpr qint64 ChunkBytes = 1 << 20;

QString TooLarge(qint64 limit) {
    return QStringLiteral("the file is larger than %1, the most a file of its kind may hold")
        .arg(TkaBoundedRead::SizeText(limit));
}

} // namespace

QString TkaBoundedRead::SizeText(qint64 bytes) {
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MB").arg(bytes >> 20);
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QStringLiteral("%1 kB").arg(bytes >> 10);
    return QStringLiteral("%1 bytes").arg(bytes);
}

bool TkaBoundedRead::ReadAll(QFile& file, qint64 limit, QByteArray& data, QString& error) {
    data.clear();
    // A regular file says its size at once; devices and pipes are read up to the bound.
    if (!file.isSequential() && file.size() - file.pos() > limit) {
        error = TooLarge(limit);
        return false;
    }
    while (true) {
        // A read allocates what it asks for: a regular file is asked for what
        // it holds and one byte more, which also finds that it has grown.
        const qint64 expected =
            file.isSequential() ? ChunkBytes : std::max<qint64>(file.size() - file.pos(), 0) + 1;
        const qint64 wanted = std::min({ChunkBytes, limit + 1 - data.size(), expected});
        const QByteArray chunk = file.read(wanted);
        if (file.error() != QFileDevice::NoError) {
            error = file.errorString();
            data.clear();
            return false;
        }
        data.append(chunk);
        if (data.size() > limit) {
            error = TooLarge(limit);
            data.clear();
            return false;
        }
        if (chunk.isEmpty())
            return true;
    }
}
