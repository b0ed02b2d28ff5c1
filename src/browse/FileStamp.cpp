#include "FileStamp.h"

#include <QFile>
#include <sys/stat.h>

namespace {

TFileStamp StampOf(const QString& path, mode_t kind) {
    struct stat info {};
    TFileStamp stamp;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 ||
        (info.st_mode & S_IFMT) != kind)
        return stamp;
    stamp.Exists = true;
    stamp.Size = qint64(info.st_size);
    stamp.ModifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.Inode = quint64(info.st_ino);
    return stamp;
}

} // namespace

TFileStamp TFileStamp::Of(const QString& fileName) {
    return StampOf(fileName, S_IFREG);
}

TFileStamp TFileStamp::OfDirectory(const QString& path) {
    return StampOf(path, S_IFDIR);
}
