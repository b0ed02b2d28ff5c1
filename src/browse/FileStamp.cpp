#include "FileStamp.h"

#include <QFile>
#include <sys/stat.h>

TFileStamp TFileStamp::Of(const QString& fileName) {
    struct stat info {};
    TFileStamp stamp;
    if (fileName.isEmpty() || ::stat(QFile::encodeName(fileName).constData(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        return stamp;
    stamp.Exists = true;
    stamp.Size = qint64(info.st_size);
    stamp.ModifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.Inode = quint64(info.st_ino);
    return stamp;
}
