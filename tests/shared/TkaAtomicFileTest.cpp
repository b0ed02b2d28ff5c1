// Every file the programs replace keeps its old content when the disk is full.
// The disk is a small tmpfs that the test mounts (root only).

#include "TkaAtomicFile.h"

#include "EkaError.h"
#include "TIniFile.h"
#include "TJPEGImage.h"
#include "kaApplicationEvents.h"
#include "kaGeneral.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        const QByteArray path = QFile::encodeName(Folder.path());
        if (::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") != 0)
            GTEST_SKIP() << "a full disk needs a small tmpfs, and mounting one needs root: "
                         << std::strerror(errno);
        Mounted = true;
    }

    void TearDown() override {
        SetProgramDir(QString());
        if (Mounted)
            ::umount2(QFile::encodeName(Folder.path()).constData(), MNT_DETACH);
    }

    QString PathOf(const QString& name) const { return Folder.filePath(name); }

    void WriteFile(const QString& name, const QByteArray& bytes) const {
        QFile file(PathOf(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    // Takes every free block of the disk.
    void Fill() const {
        QFile filler(PathOf(QStringLiteral("filler")));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
    }

    // Only the files the test made: a failed replacement leaves no temporary.
    QStringList Entries() const {
        return QDir(Folder.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir Folder;
    bool Mounted = false;
};

TEST_F(FullDiskTest, SettingsFileKeepsEveryKey) {
    const QString path = PathOf(QStringLiteral("Tarvik.ini"));
    TIniFile ini(path);
    for (int i = 0; i < 20; ++i)
        ini.WriteString(QStringLiteral("String"), QStringLiteral("Key%1").arg(i),
                        QStringLiteral("value %1").arg(i));
    const QByteArray before = Bytes(path);
    Fill();

    try {
        ini.WriteString(QStringLiteral("String"), QStringLiteral("Last"), QString(5000, 'x'));
        ADD_FAILURE() << "a write on a full disk reported success";
    } catch (const EkaError& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Error writing File ") + path))
            << e.message().toStdString();
    }
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(Entries(), (QStringList{"Tarvik.ini", "filler"}));
    EXPECT_EQ(TIniFile(path).ReadString("String", "Key0", ""), "value 0");
    EXPECT_FALSE(ini.ValueExists("String", "Last"));

    // Once there is room again, writing works and nothing was lost.
    ASSERT_TRUE(QFile::remove(PathOf(QStringLiteral("filler"))));
    ini.WriteString(QStringLiteral("String"), QStringLiteral("Last"), QStringLiteral("l"));
    EXPECT_EQ(TIniFile(path).ReadSection("String").size(), 21);
}

TEST_F(FullDiskTest, ErrorLogKeepsItsRowsAndNeverRaises) {
    SetProgramDir(Folder.path());
    const QString log = ErrorLogFileName();
    QByteArray rows;
    for (int i = 0; i < 100; ++i)
        rows += "old row " + QByteArray::number(i) + "\r\n";
    WriteFile(QFileInfo(log).fileName(), rows);
    TkaLibrary library;
    TkaApplicationEvents events;
    events.SetShowExceptionBox(false);
    Fill();

    EXPECT_NO_THROW(events.HandleException(EkaError(QStringLiteral("Driver not Open"))));
    EXPECT_EQ(Bytes(log), rows);
    EXPECT_FALSE(Entries().join(' ').contains(QStringLiteral(".ERR.")));
}

TEST_F(FullDiskTest, PictureKeepsItsOldBytes) {
    const QString path = PathOf(QStringLiteral("Start.Jpg"));
    QImage small(16, 16, QImage::Format_RGB888);
    small.fill(Qt::red);
    TJPEGImage old;
    old.Assign(small);
    old.SaveToFile(path);
    const QByteArray before = Bytes(path);
    ASSERT_FALSE(before.isEmpty());

    QImage noise(200, 200, QImage::Format_RGB888);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * y) % 256, (x ^ y) % 256));
    TJPEGImage large;
    large.SetQuality(100);
    large.Assign(noise);
    Fill();

    try {
        large.SaveToFile(path);
        ADD_FAILURE() << "a save on a full disk reported success";
    } catch (const EJPEG& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Cannot write file \"%1\".").arg(path)))
            << e.message().toStdString();
    }
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(Entries(), (QStringList{"Start.Jpg", "filler"}));
}

TEST_F(FullDiskTest, FailedWriteIsNeverCommitted) {
    const QString path = PathOf(QStringLiteral("mask.msk"));
    WriteFile(QStringLiteral("mask.msk"), "old mask");
    Fill();
    TkaAtomicFile file(path);
    ASSERT_TRUE(file.Open());
    EXPECT_FALSE(file.Write(QByteArray(64 * 1024, 'm')));
    const QString reason = file.ErrorString();
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ENOSPC)));
    // A caller that ignores the failed write still cannot put a torn file in place.
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(file.ErrorString(), reason);
    EXPECT_EQ(Bytes(path), "old mask");
    EXPECT_EQ(Entries(), (QStringList{"filler", "mask.msk"}));
}

TEST(TkaAtomicFileTest, ReplacesALinksTargetAndKeepsItsPermissions) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("real.ini"));
    const QString link = dir.filePath(QStringLiteral("linked.ini"));
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(target, link));

    TkaAtomicFile::Replace<EkaError>(link, "new", [](const QString& reason) { return reason; });
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the user's link was replaced by a file";
    EXPECT_EQ(Bytes(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"linked.ini", "real.ini"}));

    // The caller's own error, with the reason, when the folder is missing.
    try {
        TkaAtomicFile::Replace<EJPEG>(dir.filePath(QStringLiteral("no/such.jpg")), "x",
                                      [](const QString& reason) { return "named: " + reason; });
        ADD_FAILURE() << "no error";
    } catch (const EJPEG& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("named: "))) << e.message().toStdString();
    }
}

} // namespace

TEST(TkaAtomicFileTest, LeftoversOfAKilledWriteAreRemovedAndNothingElse) {
    QTemporaryDir dir;
    const QString file = dir.filePath("Tarvik.ini");
    TkaAtomicFile::Replace<EkaError>(file, "[a]\n", [](const QString& reason) { return reason; });
    const QStringList leftovers{".Tarvik.ini.Ab3xZ9", ".Tarvik.ini.000000"};
    const QStringList others{".Other.ini.Ab3xZ9", ".Tarvik.ini.AbC", ".Tarvik.ini.Ab3xZ9.keep",
                             ".Tarvik.ini.Ab-xZ9", "Tarvik.ini.Ab3xZ9"};
    for (const QString& name : leftovers + others) {
        QFile created(dir.filePath(name));
        ASSERT_TRUE(created.open(QIODevice::WriteOnly));
    }
    TkaAtomicFile::RemoveLeftovers(file);
    QStringList expected = others + QStringList{"Tarvik.ini"};
    expected.sort();
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left, expected);
}
