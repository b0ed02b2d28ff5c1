// Writes the seed corpus of the stream-object fuzzer into the folder given as
// the only argument: a few valid datagrams and a few cut short.
#include "StmObjects.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <cstdio>

namespace {

QByteArray Saved(const TStmObject& object) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    object.SaveToStream(buffer);
    return buffer.data();
}

TJPEGImage TinyJpeg() {
    QImage bitmap(8, 8, QImage::Format_BGR888);
    bitmap.fill(Qt::darkGreen);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(10);
    jpeg.Compress();
    return jpeg;
}

bool Write(const QDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    TStmJPG jpg(QStringLiteral("MyCam"), TinyJpeg());
    jpg.SetTime(1.5);
    const QByteArray picture = Saved(jpg);
    TStmJPG unnamed(QString(), TinyJpeg());
    unnamed.SetTime(45678.5);
    TStmDir stmDir;
    stmDir.SetName(QStringLiteral("Scenes"));
    stmDir.SetValue(0x0102030405060708);
    TStmRegister stmRegister;
    stmRegister.SetValue1(-1);
    stmRegister.SetValue4(42);

    const bool written =
        Write(dir, "jpg-mycam", picture) && Write(dir, "jpg-empty-source", Saved(unnamed)) &&
        Write(dir, "dir", Saved(stmDir)) && Write(dir, "register", Saved(stmRegister)) &&
        Write(dir, "cut-in-signature", picture.left(3)) &&
        Write(dir, "cut-in-source", picture.left(18)) &&
        Write(dir, "cut-in-jpeg-count", picture.left(23)) &&
        Write(dir, "cut-in-jpeg", picture.left(picture.size() / 2));
    return written ? 0 : 1;
}
