#include "ApplicationErrors.h"
#include "DemoCameraBackend.h"
#include "DiskSpace.h"
#include "EkaError.h"
#include "FTarvik.h"
#include "ScriptedDialogs.h"
#include "TJPEGImage.h"
#include "TempProgramDir.h"
#include "TrayIcon.h"
#include "TreeNodeObject.h"
#include "WaitForDeletions.h"
#include "frExplorer.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaApplicationEvents.h"
#include "kaCheckBox.h"
#include "kaLabel.h"
#include "kaSceneFiles.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreeView.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QTreeWidgetItem>
#include <memory>

namespace {

QByteArray JpegBytes(int shade) {
    QImage bitmap(32, 32, QImage::Format_BGR888);
    bitmap.fill(QColor(shade, 90, 200));
    TJPEGImage image;
    image.Assign(bitmap);
    image.Compress();
    return image.JpegData();
}

bool Unread(const QTreeWidgetItem* node) {
    return TkaTreeView::NodeObject(node)->Unread();
}

QStringList Captions(const QTreeWidgetItem* node) {
    QStringList captions;
    for (int i = 0; i < node->childCount(); ++i)
        captions.append(node->child(i)->text(0));
    return captions;
}

// The main window over one demo camera in a fresh program folder, as the
// user meets recordings that are damaged, shared or cannot be written.
class RecordingTrustTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
        SavedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        PreviousExit = TkaApplicationEvents::SetExitFunction(
            [](int code) { throw EkaError(QStringLiteral("exit %1").arg(code)); });
    }
    void TearDown() override {
        Form.reset();
        SetFreeSpaceReader({});
        SetCaptureBackends({});
        TkaApplicationEvents::SetExitFunction(PreviousExit);
        SetBroadcastAddress(QHostAddress(QHostAddress::Broadcast));
        QLocale::setDefault(SavedLocale);
        TempProgramDir::TearDown();
    }

    void CreateForm() {
        SetCaptureBackends({std::make_shared<TDemoCameraBackend>(1)});
        Form.reset(CreateLoaded<TTarvikForm>());
    }
    TVideoFrame* Camera() const { return Form->VideoFrames().at(0); }
    TSceneFrame* Scenes() const { return Camera()->SceneFrame(); }
    QTreeWidgetItem* ScenesNode() const { return Scenes()->SceneNode(); }

    void Write(const QString& relative, const QByteArray& content = "x") {
        const QString path = PathOf(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    bool Exists(const QString& relative) const { return QFileInfo::exists(PathOf(relative)); }

    // One motion picture as the camera page stores it.
    void Motion() {
        TJPEGImage picture;
        picture.LoadFromData(JpegBytes(50));
        if (Scenes()->GuardDiskSpace())
            Scenes()->AddPicture(picture);
        QCoreApplication::processEvents();
    }

    int LogRows(const QString& text) const {
        int rows = 0;
        for (const QString& row : Form->kaApplicationEvents1->ErrorLog())
            rows += row.contains(text) ? 1 : 0;
        return rows;
    }

    ScriptedDialogs Dialogs;
    std::unique_ptr<TTarvikForm> Form;
    QLocale SavedLocale;
    TkaApplicationEvents::TExitFunction PreviousExit;
};

TEST_F(RecordingTrustTest, StartUpNamesPicturesAKillLeftUnnamed) {
    const QByteArray whole = JpegBytes(10);
    const QString scene = "Scenes/0/20240517/143015000/";
    Write(scene + PictureTempName("20240517143015000.jpg"), whole);
    Write(scene + PictureTempName("20240517143015100.jpg"), whole.left(100));
    CreateForm();
    EXPECT_EQ(ListSceneFiles(PathOf(scene)), QStringList{"20240517143015000.jpg"});
    EXPECT_EQ(QDir(PathOf(scene)).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "the broken leftover is gone";
}

TEST_F(RecordingTrustTest, FailingRecordingIsShownOnThePageInTheTrayAndOnceInTheLog) {
    CreateForm();
    Write("blocked");
    Scenes()->SetSceneDir(PathOf("blocked/rec"));
    for (int i = 0; i < 4; ++i)
        Motion();
    const QString why = "Error creating Directory " + PathOf("blocked/rec") + ": Not a directory";
    QLabel* status = Camera()->RecordingFailureLabel();
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(status->isHidden());
    EXPECT_EQ(status->text(), "Recording fails: " + why);
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(Form->TrayIcon->ToolTip(), "Tarvik\r\nRecording fails: Demo camera 1");
    const TkaLabel* page = Scenes()->RecordingFailurekaLabel;
    EXPECT_FALSE(page->isHidden());
    EXPECT_EQ(page->text(), "Recording fails: " + why);
    EXPECT_EQ(page->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(LogRows("Recording fails: " + why), 1) << "one row, not one per frame";
    EXPECT_EQ(Dialogs.Asked.size(), 1);
    EXPECT_FALSE(Unread(ScenesNode())) << "nothing was recorded";

    QFile::remove(PathOf("blocked"));
    QDir().mkpath(PathOf("blocked"));
    Motion();
    EXPECT_TRUE(status->isHidden());
    EXPECT_TRUE(page->isHidden());
    EXPECT_EQ(Form->TrayIcon->ToolTip(), "Tarvik");
    EXPECT_TRUE(Unread(ScenesNode()));
    EXPECT_EQ(LogRows("Recording fails"), 1);
}

// A link to the user's photos inside a day, one beside the days and folders of
// their own: no deleting path of the program or of the explorer reaches them.
TEST_F(RecordingTrustTest, LinksAndForeignFoldersSurviveEveryDeletingPath) {
    Write("Photos/IMG_0001.jpg");
    Write("Photos/20240101120000000.jpg");
    Write("Scenes/0/Holiday/IMG_0002.jpg");
    Write("Scenes/0/20240516/100000000/20240516100000000.jpg");
    Write("Scenes/0/20240517/080000000/20240517080000000.jpg");
    Write("Scenes/0/20240517/090000000/20240517090000000.jpg");
    ASSERT_TRUE(QFile::link(PathOf("Photos"), PathOf("Scenes/0/20240517/085000000")));
    ASSERT_TRUE(QFile::link(PathOf("Photos"), PathOf("Scenes/0/20240515")));
    const QStringList theUsers = {"Photos/IMG_0001.jpg", "Photos/20240101120000000.jpg",
                                  "Scenes/0/Holiday/IMG_0002.jpg"};
    CreateForm();
    TkaTreeView* tree = Form->Tree();
    ASSERT_TRUE(ScenesNode()->isExpanded());
    // A folder that holds pictures is shown as a scene, whatever its name.
    EXPECT_EQ(Captions(ScenesNode()), (QStringList{"00:00:00.000", "05/17/24 Fri", "05/16/24 Thu"}))
        << "links are not listed";
    QTreeWidgetItem* day = tree->FindChild(ScenesNode(), "05/17/24 Fri");
    day->setExpanded(true);
    EXPECT_EQ(Captions(day), (QStringList{"09:00:00.000", "08:00:00.000"}));

    // The retention rules at a new scene: the per-day limit and the sweep.
    Scenes()->MaxSceneskaTrackbarFrame->TrackBar->SetPosition(1);
    Scenes()->MinPicsPerScenekaTrackbarFrame->TrackBar->SetPosition(5);
    Write("Scenes/0/20240517/100000000/20240517100000000.jpg");
    Form->OnNewScene(Scenes(), "20240517/100000000");
    EXPECT_EQ(Captions(day), QStringList{"10:00:00.000"});
    ASSERT_TRUE(WaitForDeletions(*Form->DirExplorerFrame->SceneDeleter()));
    EXPECT_FALSE(Exists("Scenes/0/20240517/080000000"));

    // The guard, short of space with nothing it may take.
    Scenes()->DeleteOldCheckBox->setChecked(true);
    SetFreeSpaceReader([](const QString&) { return qint64(0); });
    EXPECT_FALSE(Scenes()->GuardDiskSpace());
    ASSERT_TRUE(WaitForDeletions(*Form->DirExplorerFrame->SceneDeleter()));
    EXPECT_FALSE(Exists("Scenes/0/20240516"));
    EXPECT_FALSE(Exists("Scenes/0/20240517/100000000"));
    SetFreeSpaceReader({});

    // The user's Delete of the day, then of the whole scenes node.
    day = tree->FindChild(ScenesNode(), "05/17/24 Fri");
    ASSERT_NE(day, nullptr);
    tree->setCurrentItem(day);
    Form->DirExplorerFrame->ActionList->UpdateActions();
    Dialogs.ConfirmAnswers << TDialogAnswer::Yes << TDialogAnswer::Yes;
    Form->DirExplorerFrame->DeleteAction->trigger();
    ASSERT_TRUE(WaitForDeletions(*Form->DirExplorerFrame->SceneDeleter()));
    for (const QString& file : theUsers)
        EXPECT_TRUE(Exists(file)) << file.toStdString();
    // Deleting all files of the scene directory, as asked, stops at its links.
    tree->setCurrentItem(ScenesNode());
    Form->DirExplorerFrame->ActionList->UpdateActions();
    Form->DirExplorerFrame->DeleteAction->trigger();
    ASSERT_TRUE(WaitForDeletions(*Form->DirExplorerFrame->SceneDeleter()));
    EXPECT_TRUE(Dialogs.ConfirmAnswers.isEmpty());
    EXPECT_FALSE(Exists("Scenes/0/Holiday")) << "it was inside the recordings";
    EXPECT_TRUE(Exists("Photos/IMG_0001.jpg"));
    EXPECT_TRUE(Exists("Photos/20240101120000000.jpg"));
    EXPECT_TRUE(QFileInfo(PathOf("Scenes/0/20240515")).isSymLink());
    EXPECT_TRUE(QFileInfo(PathOf("Scenes/0/20240517/085000000")).isSymLink());
}

} // namespace
