// The mask editor on a real camera page: mouse strokes, the toolbar, mask
// files through the dialogs, and the question to save at exit.

#include "DemoCameraBackend.h"
#include "PageFixture.h"
#include "PaintBox.h"
#include "ScriptedDialogs.h"
#include "UnprivilegedScope.h"
#include "kaAction.h"
#include "kaGeneral.h"
#include "kaMaskBitmap.h"
#include "kaMaskFile.h"
#include "kaPageControl.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <sys/stat.h>

namespace {

bool IsBlack(const QImage& image, int x, int y) {
    return (image.pixel(x, y) & 0x00ffffffu) == 0;
}

// Black pixels of the mask in column X between Top and Bottom.
int BlackInColumn(const QImage& mask, int x, int top, int bottom) {
    int count = 0;
    for (int y = top; y <= bottom; ++y)
        count += IsBlack(mask, x, y) ? 1 : 0;
    return count;
}

class MaskEditorTest : public PageFixture {
protected:
    // A page on its mask tab, shown, with one frame analysed.
    TVideoFrame& MaskPage(QSize picture = QSize(200, 150)) {
        Camera->Picture = TTestCameraScript::Grey(picture, 200);
        TVideoFrame& page = CreateTestCameraPage();
        page.resize(900, 700);
        page.show();
        page.kaPageControl->setCurrentWidget(page.MaskTabSheet);
        page.PlayActionExecute();
        Tick();
        return page;
    }

    void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
        QWidget* box = Page->MaskPaintBox;
        QTest::mousePress(box, button, {}, from);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(box, from + (to - from) * step / 4);
        QTest::mouseRelease(box, button, {}, to);
    }

    QImage Mask() const { return Page->MaskBitmap(); }

    ScriptedDialogs Dialogs;
};

TEST_F(MaskEditorTest, PenAndRubberStrokesWithBothButtons) {
    TVideoFrame& page = MaskPage();
    EXPECT_TRUE(page.Pen1Action->isChecked());
    EXPECT_FALSE(page.MaskModified());

    // A press alone paints nothing.
    QTest::mouseClick(page.MaskPaintBox, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_FALSE(IsBlack(Mask(), 30, 30));
    EXPECT_FALSE(page.MaskModified());

    Drag(Qt::LeftButton, {10, 20}, {150, 20});
    EXPECT_TRUE(IsBlack(Mask(), 80, 20));
    EXPECT_TRUE(page.MaskModified());
    // The right button erases even with the pen.
    Drag(Qt::RightButton, {10, 20}, {150, 20});
    EXPECT_FALSE(IsBlack(Mask(), 80, 20));

    Drag(Qt::LeftButton, {10, 60}, {150, 60});
    Drag(Qt::LeftButton, {10, 100}, {150, 100});
    page.Rubber1Action->trigger();
    EXPECT_TRUE(page.Rubber1Action->isChecked());
    EXPECT_FALSE(page.Pen1Action->isChecked());
    // With the rubber both buttons erase.
    Drag(Qt::LeftButton, {10, 60}, {150, 60});
    Drag(Qt::RightButton, {10, 100}, {150, 100});
    EXPECT_FALSE(IsBlack(Mask(), 80, 60));
    EXPECT_FALSE(IsBlack(Mask(), 80, 100));
    // A move without a pressed button draws nothing.
    page.Pen1Action->trigger();
    QTest::mouseMove(page.MaskPaintBox, QPoint(20, 120));
    QTest::mouseMove(page.MaskPaintBox, QPoint(120, 120));
    EXPECT_FALSE(IsBlack(Mask(), 70, 120));
    EXPECT_TRUE(page.Pen1Action->isChecked());
    EXPECT_FALSE(page.Rubber1Action->isChecked());
}

TEST_F(MaskEditorTest, TheFourWidthsAndAStrokeThatLeavesThePicture) {
    TVideoFrame& page = MaskPage();
    EXPECT_EQ(page.LineWidth(), 10);
    EXPECT_TRUE(page.Line3Action->isChecked());
    const std::array<std::pair<TkaAction*, int>, 4> lines{{{page.Line1Action, 3},
                                                           {page.Line2Action, 5},
                                                           {page.Line3Action, 10},
                                                           {page.Line4Action, 20}}};
    int y = 30;
    for (const auto& [action, width] : lines) {
        action->trigger();
        EXPECT_EQ(page.LineWidth(), width);
        for (const auto& [other, otherWidth] : lines)
            EXPECT_EQ(other->isChecked(), other == action) << otherWidth;
        Drag(Qt::LeftButton, {20, y}, {180, y});
        const int thickness = BlackInColumn(Mask(), 100, y - 15, y + 15);
        EXPECT_GE(thickness, width - 1) << width;
        EXPECT_LE(thickness, width + 1) << width;
        y += 40;
    }

    // Out of the 200 x 150 picture and on: the mask takes all of it, the box
    // shows it only over the picture.
    page.Line2Action->trigger();
    Drag(Qt::LeftButton, {100, 10}, {700, 10});
    EXPECT_TRUE(IsBlack(Mask(), 600, 10));
    const QImage shown = page.MaskPaintBox->grab().toImage();
    EXPECT_TRUE(IsBlack(shown, 150, 10));
    EXPECT_FALSE(IsBlack(shown, 600, 10));
    // At the next frame the stroke is part of the masked picture.
    Tick();
    EXPECT_TRUE(IsBlack(page.AnalysisBitmap(), 150, 10));
    EXPECT_FALSE(IsBlack(page.AnalysisBitmap(), 150, 20));

    // Without the video overlay the box shows the mask itself, all of it.
    page.MaskPictureAction->trigger();
    EXPECT_FALSE(page.MaskPictureAction->isChecked());
    EXPECT_TRUE(IsBlack(page.MaskPaintBox->grab().toImage(), 600, 10));
}

TEST_F(MaskEditorTest, SaveClearAndReloadGiveThePaintedMaskPixelForPixel) {
    TVideoFrame& page = MaskPage();
    Drag(Qt::LeftButton, {10, 10}, {190, 140});
    Drag(Qt::LeftButton, {300, 700}, {1000, 760}); // beyond the picture
    const QImage painted = Mask().copy();

    // The default extension is added to a name typed without one.
    Dialogs.PathAnswers.enqueue(PathOf("Mask/door"));
    page.MaskSaveAction->trigger();
    const QString door = PathOf("Mask/door.msk");
    EXPECT_TRUE(QFile::exists(door));
    EXPECT_FALSE(page.MaskModified());
    EXPECT_EQ(page.MaskFileName(), door);
    EXPECT_EQ(ReadComponentSetting(&page, "MaskFileName", QString()), door);

    page.MaskClearAction->trigger();
    EXPECT_TRUE(page.MaskModified());
    EXPECT_EQ(Mask().convertToFormat(QImage::Format_RGB32),
              MaskBitmap::White(1024, 768).convertToFormat(QImage::Format_RGB32));

    Dialogs.PathAnswers.enqueue(door);
    page.MaskLoadAction->trigger();
    EXPECT_FALSE(page.MaskModified());
    EXPECT_EQ(Mask().convertToFormat(QImage::Format_RGB32),
              painted.convertToFormat(QImage::Format_RGB32));

    // Saved under another name, the mask of that name comes back at the next start.
    Drag(Qt::LeftButton, {10, 140}, {190, 10});
    const QImage second = Mask().copy();
    Dialogs.PathAnswers.enqueue(PathOf("Mask/yard.msk"));
    page.MaskSaveAction->trigger();
    EXPECT_EQ(page.MaskFileName(), PathOf("Mask/yard.msk"));
    std::unique_ptr<TVideoFrame> next(CreateLoaded<TVideoFrame>(nullptr, nullptr));
    next->setObjectName(page.objectName());
    next->SetDescription("Test camera");
    EXPECT_EQ(next->MaskFileName(), PathOf("Mask/yard.msk"));
    EXPECT_EQ(next->MaskBitmap().convertToFormat(QImage::Format_RGB32),
              second.convertToFormat(QImage::Format_RGB32));
    EXPECT_FALSE(next->MaskModified());
    delete next->SceneFrame();
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("; ").toStdString();
}

TEST_F(MaskEditorTest, TheQuestionAtExit) {
    TVideoFrame& page = MaskPage();
    bool canClose = true;
    page.QueryMaskSave(canClose); // nothing painted: no question
    EXPECT_TRUE(Dialogs.Asked.isEmpty());

    Drag(Qt::LeftButton, {10, 10}, {100, 10});
    Dialogs.ConfirmAnswers << TDialogAnswer::Cancel << TDialogAnswer::No << TDialogAnswer::Yes;
    page.QueryMaskSave(canClose);
    EXPECT_FALSE(canClose) << "Cancel keeps the program running";
    EXPECT_EQ(Dialogs.Asked, QStringList{"Confirm: unknown.msk is modified! Save?"});

    canClose = true;
    page.QueryMaskSave(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_TRUE(page.MaskModified());

    // Yes without a file name opens the save dialog; cancelling it still closes.
    Dialogs.PathAnswers.enqueue(QString());
    page.QueryMaskSave(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(Dialogs.Asked.last(), "Save: Save mask to file");
    EXPECT_TRUE(page.MaskModified());

    // Yes with a file name saves there at once.
    Dialogs.PathAnswers.enqueue(PathOf("Mask/door.msk"));
    page.MaskSaveAction->trigger();
    Drag(Qt::LeftButton, {10, 50}, {100, 50});
    const QImage painted = Mask().copy();
    Dialogs.Asked.clear();
    Dialogs.ConfirmAnswers << TDialogAnswer::Yes;
    page.QueryMaskSave(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(Dialogs.Asked,
              QStringList{"Confirm: " + PathOf("Mask/door.msk") + " is modified! Save?"});
    EXPECT_FALSE(page.MaskModified());
    EXPECT_EQ(MaskFile::Read(PathOf("Mask/door.msk")).convertToFormat(QImage::Format_RGB32),
              painted.convertToFormat(QImage::Format_RGB32));
}

TEST_F(MaskEditorTest, MissingAndBadFilesChangeOnlyTheRememberedName) {
    TVideoFrame& page = MaskPage();
    Drag(Qt::LeftButton, {10, 10}, {100, 10});
    const QImage painted = Mask().copy();

    Dialogs.PathAnswers.enqueue(PathOf("Mask/gone.msk"));
    page.MaskLoadAction->trigger();
    EXPECT_EQ(page.MaskFileName(), PathOf("Mask/gone.msk"));
    EXPECT_EQ(ReadComponentSetting(&page, "MaskFileName", QString()), PathOf("Mask/gone.msk"));
    EXPECT_EQ(Mask(), painted);
    EXPECT_TRUE(page.MaskModified());
    EXPECT_EQ(Dialogs.Asked, QStringList{"Open: Open a Mask"});

    QFile bad(PathOf("Mask/bad.msk"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("this is no mask at all");
    bad.close();
    Dialogs.PathAnswers.enqueue(bad.fileName());
    page.MaskLoadAction->trigger();
    ASSERT_EQ(Dialogs.Asked.size(), 3);
    EXPECT_TRUE(Dialogs.Asked.last().startsWith("Message: The mask \"" + bad.fileName()));
    EXPECT_TRUE(Dialogs.Asked.last().contains("no zlib stream"));
    EXPECT_EQ(Mask(), painted);
    EXPECT_TRUE(page.MaskModified());
    EXPECT_EQ(page.MaskFileName(), bad.fileName());

    // At the next start the damaged file is reported; the camera keeps its
    // page, with a white mask, and the name stays recorded.
    std::unique_ptr<TVideoFrame> next(CreateLoaded<TVideoFrame>(nullptr, nullptr));
    next->setObjectName(page.objectName());
    next->SetDescription("Test camera");
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_TRUE(Errors[0].contains("no zlib stream"));
    EXPECT_NE(next->SceneFrame(), nullptr);
    EXPECT_FALSE(IsBlack(next->MaskBitmap(), 50, 10));
    EXPECT_EQ(next->MaskFileName(), bad.fileName());
    delete next->SceneFrame();
}

TEST_F(MaskEditorTest, AFailedSaveKeepsTheMaskModifiedAndTheProgramRunning) {
    TVideoFrame& page = MaskPage();
    Drag(Qt::LeftButton, {10, 10}, {100, 10});
    const QByteArray folder = QFile::encodeName(PathOf("Mask"));
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    OpenPathForEverybody(folder.constData());
    bool canClose = true;
    {
        UnprivilegedScope nobody;
        EXPECT_FALSE(page.SaveMask(PathOf("Mask/door.msk")));
        Dialogs.ConfirmAnswers << TDialogAnswer::Yes;
        Dialogs.PathAnswers.enqueue(PathOf("Mask/door.msk"));
        page.QueryMaskSave(canClose);
    }
    ::chmod(folder.constData(), 0755);
    EXPECT_FALSE(canClose) << "the painted mask would be lost";
    EXPECT_TRUE(page.MaskModified());
    EXPECT_TRUE(page.MaskFileName().isEmpty());
    ASSERT_GE(Dialogs.Asked.size(), 1);
    EXPECT_TRUE(Dialogs.Asked.first().startsWith("Message: The mask cannot be saved as"));
    EXPECT_FALSE(QFile::exists(PathOf("Mask/door.msk")));
}

TEST_F(MaskEditorTest, BeforeTheFirstFrameTheBoxShowsTheMaskThatIsPainted) {
    TVideoFrame& page = CreateTestCameraPage();
    page.resize(900, 700);
    page.show();
    page.kaPageControl->setCurrentWidget(page.MaskTabSheet);
    ASSERT_TRUE(page.MaskPictureAction->isChecked());
    Drag(Qt::LeftButton, {20, 20}, {300, 20});
    EXPECT_TRUE(IsBlack(page.MaskPaintBox->grab().toImage(), 200, 20));
}

// The demo camera's visitor walks through a picture that the mask hides
// completely: after the first frame nothing is motion.
TEST_F(MaskEditorTest, AMaskPaintedBlackOverThePictureStopsAllMotion) {
    const auto motionFrames = [this](bool masked) {
        TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
        page.resize(900, 700);
        page.show();
        page.kaPageControl->setCurrentWidget(page.MaskTabSheet);
        if (masked) {
            page.Line4Action->trigger();
            for (int y = 0; y < 500; y += 15)
                Drag(Qt::LeftButton, {-10, y}, {650, y});
        }
        page.PlayActionExecute();
        Tick();
        EXPECT_TRUE(page.Motion()) << "the first frame always is";
        int motion = 0;
        for (int i = 0; i < 20; ++i) {
            Tick();
            motion += page.Motion() ? 1 : 0;
        }
        return motion;
    };
    EXPECT_GT(motionFrames(false), 3) << "the visitor makes motion without a mask";
    EXPECT_EQ(motionFrames(true), 0);
    EXPECT_TRUE(IsBlack(Page->AnalysisBitmap(), 320, 240));
}

} // namespace
