#include "ApplicationErrors.h"
#include "OffsiteCopyLink.h"
#include "OffsiteSettings.h"
#include "OffsiteTestSupport.h"
#include "TJPEGImage.h"
#include "TempProgramDir.h"
#include "frScene.h"
#include "kaLabel.h"

#include <QImage>
#include <QRegularExpression>
#include <QUrl>
#include <memory>

namespace {

using namespace std::chrono_literals;

class OffsiteLinkTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        PreviousLogger = SetApplicationErrorLogger(
            [this](const std::exception& error) { Logged << QString::fromUtf8(error.what()); });
    }
    void TearDown() override {
        SetApplicationErrorLogger(std::move(PreviousLogger));
        TempProgramDir::TearDown();
    }

    static TJPEGImage Picture(int shade) {
        QImage bitmap(64, 48, QImage::Format_BGR888);
        bitmap.fill(QColor(shade, 80, 255 - shade));
        TJPEGImage image;
        image.Assign(bitmap);
        image.Compress();
        return image;
    }

    QColor LineColour(const TSceneFrame& frame) const {
        return frame.OffsitekaLabel->palette().color(QPalette::WindowText);
    }

    QStringList Logged;
    TApplicationErrorHandler PreviousLogger;
};

// The whole path: the scene page stores a picture, the link queues it, it
// arrives on the target, and a target that keeps failing shows in red, in
// one row of the error log and in the tray line until it works again.
TEST_F(OffsiteLinkTest, StoredPicturesLeaveAndAFailingTargetIsReportedOnce) {
    const QString nas = PathOf(QStringLiteral("nas"));
    QDir().mkpath(nas);
    CfgIniFile()->WriteString(QStringLiteral("Offsite"), QStringLiteral("Url"),
                              QUrl::fromLocalFile(nas).toString());
    TOffsiteCopyLink link(nullptr, TOffsiteTimings{100ms, 200ms, 300ms, 100ms});
    link.Reload();
    std::unique_ptr<TSceneFrame> frame(
        CreateLoaded<TSceneFrame>(QStringLiteral("VideoFrame1Scene")));
    frame->SetSceneDir(PathOf(QStringLiteral("Scenes/0")));
    link.AddSceneFrame(frame.get());

    frame->AddPicture(Picture(10));
    const QString stored = frame->kaSceneMaker->CurrentSceneDir();
    // The copy lies beside its temporary until it is renamed into place.
    const auto pictures = [&nas] { return FilesBelow(nas).filter(QRegularExpression("\\.jpg$")); };
    ASSERT_TRUE(WaitFor([&] { return pictures().size() == 1; }, 5000))
        << link.StatusLine().toStdString();
    const QString relative = pictures().first();
    EXPECT_TRUE(relative.startsWith(QStringLiteral("0/") + QFileInfo(stored).dir().dirName()));
    EXPECT_EQ(ReadAll(nas + QLatin1Char('/') + relative),
              ReadAll(PathOf(QStringLiteral("Scenes/")) + relative));
    ASSERT_TRUE(
        WaitFor([&] { return frame->OffsitekaLabel->text().contains("last copied"); }, 2000));
    EXPECT_TRUE(frame->OffsitekaLabel->text().startsWith(
        QStringLiteral("Off-site copy: %1, 0 waiting").arg(QUrl::fromLocalFile(nas).toString())));
    EXPECT_FALSE(frame->OffsitekaLabel->isHidden());
    EXPECT_EQ(LineColour(*frame), QColor(Qt::black));

    // The share goes away.
    ASSERT_TRUE(QDir().rename(nas, nas + QStringLiteral("-away")));
    frame->AddPicture(Picture(200));
    ASSERT_TRUE(WaitFor([&] { return link.Copier()->Failing(); }, 5000));
    WaitFor([] { return false; }, 500);
    EXPECT_EQ(LineColour(*frame), QColor(Qt::red));
    EXPECT_TRUE(frame->OffsitekaLabel->text().contains(QLatin1String("1 waiting")));
    EXPECT_EQ(link.TrayLine(), QStringLiteral("Off-site copy fails"));
    ASSERT_EQ(Logged.size(), 1) << "one row, however many retries";
    EXPECT_TRUE(Logged.first().contains(QLatin1String("is the share mounted")));

    ASSERT_TRUE(QDir().rename(nas + QStringLiteral("-away"), nas));
    ASSERT_TRUE(WaitFor([&] { return pictures().size() == 2 && !link.Copier()->Failing(); }, 5000));
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(LineColour(*frame), QColor(Qt::black));
    EXPECT_TRUE(link.TrayLine().isEmpty());
    EXPECT_EQ(Logged.size(), 1);
}

// Where no secret store takes the password it goes into the configuration
// file, which then only its owner may read; an empty one leaves the file.
TEST_F(OffsiteLinkTest, AFilePasswordIsReadableByTheOwnerOnly) {
    TIniFile& ini = *CfgIniFile();
    ini.WriteString(QStringLiteral("Offsite"), QStringLiteral("Url"),
                    QStringLiteral("sftp://ann@nas/x"));
    QFile::setPermissions(ini.FileName(), QFile::permissions(ini.FileName()) |
                                              QFileDevice::ReadOther | QFileDevice::ReadGroup);
    TOffsiteSettings::WriteFilePassword(ini, QStringLiteral("pw"));
    EXPECT_EQ(QFile::permissions(ini.FileName()) & 0x0ff, QFileDevice::Permissions())
        << "neither group nor others may read it";
    const TOffsiteSettings settings = TOffsiteSettings::Read(ini);
    EXPECT_EQ(settings.FilePassword, QStringLiteral("pw"));
    EXPECT_EQ(settings.Target(settings.FilePassword).Password, QStringLiteral("pw"));
    TOffsiteSettings::WriteFilePassword(ini, QString());
    EXPECT_FALSE(ini.ValueExists(QStringLiteral("Offsite"), QStringLiteral("Password")));
}

} // namespace
