#include "ClientTestSupport.h"
#include "FSetup.h"
#include "frSetup.h"
#include "kaEdit.h"
#include "kaGeneral.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace {

void Type(QWidget& widget, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&widget, &release);
}

class SetupDialogTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        Form.reset(CreateLoaded<TSetupForm>());
    }
    void TearDown() override {
        Form.reset();
        TempProgramDir::TearDown();
    }
    TSetupFrame& Frame() { return *Form->SetupFrame1; }

    ScriptedDialogs Dialogs;
    std::unique_ptr<TSetupForm> Form;
};

TEST_F(SetupDialogTest, ThePortEditAdmitsDigitsAndTheEditingKeys) {
    TkaEdit& edit = *Frame().UDPPortkaEdit;
    edit.setText("4032");
    edit.setCursorPosition(4);
    for (const auto& [key, text] : {std::pair{int(Qt::Key_A), QStringLiteral("a")},
                                    {int(Qt::Key_Minus), QStringLiteral("-")},
                                    {int(Qt::Key_Space), QStringLiteral(" ")}})
        Type(edit, key, text);
    EXPECT_EQ(edit.text(), "4032");
    Type(edit, Qt::Key_Backspace, QStringLiteral("\b"));
    Type(edit, Qt::Key_7, "7");
    EXPECT_EQ(edit.text(), "4037");
    // Keys that type nothing keep working.
    Type(edit, Qt::Key_Home, QString());
    Type(edit, Qt::Key_Delete, QStringLiteral("\x7f"));
    EXPECT_EQ(edit.text(), "037");
    // Ctrl+A selects all, the next digit replaces it; five digits at most.
    QKeyEvent all(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, QStringLiteral("\x01"));
    QCoreApplication::sendEvent(&edit, &all);
    for (const char digit : QByteArray("123456"))
        Type(edit, Qt::Key_0 + (digit - '0'), QString(QChar(digit)));
    EXPECT_EQ(edit.text(), "12345");
}

TEST_F(SetupDialogTest, TheSoundButtonTakesTheChosenFileAndClearsWhenTheDialogFails) {
    const QString chosen = PathOf("Sounds/Bell.wav");
    Dialogs.PathAnswers.enqueue(chosen);
    Frame().SceneDirSpeedButton->click();
    EXPECT_EQ(Frame().SoundkaEdit->text(), chosen);
    // Cancelled: nothing changes.
    Dialogs.PathAnswers.enqueue(QString());
    Frame().SceneDirSpeedButton->click();
    EXPECT_EQ(Frame().SoundkaEdit->text(), chosen);
    // No answer scripted: showing the dialog fails.
    Frame().SceneDirSpeedButton->click();
    EXPECT_TRUE(Frame().SoundkaEdit->text().isEmpty());
    ASSERT_FALSE(Dialogs.Asked.isEmpty());
}

TEST_F(SetupDialogTest, TheDialogHasItsCaptionAndOnlyACloseButton) {
    EXPECT_EQ(Form->windowTitle(), "Setup");
    const QList<QPushButton*> buttons = Form->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.first()->text(), "Close");
    EXPECT_GE(Form->width(), TSetupForm::DesignedWidth);
    EXPECT_GE(Form->height(), TSetupForm::DesignedHeight);
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
}

TEST(SetupFrameFolderTest, AFolderThatCannotBeCreatedStopsTheConstruction) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    SetProgramDir(folder.path());
    {
        // A file where the folder belongs.
        QFile blocker(folder.filePath("Sounds"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    TkaLibrary library;
    try {
        TSetupFrame frame(nullptr, nullptr);
        ADD_FAILURE() << "constructed";
    } catch (const EkaError& error) {
        EXPECT_EQ(error.message(), "Error creating Directory " + ProgramDir() + "Sounds");
    }
    SetProgramDir(QString());
}

} // namespace
