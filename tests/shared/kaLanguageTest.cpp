#include "kaLanguage.h"

#include "ScriptedDialogs.h"
#include "TIniFile.h"
#include "TempProgramDir.h"
#include "TkaHashList.h"
#include "kaComboBox.h"
#include "kaHotkey.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Language files in a fresh program folder, and a small form (class QWidget,
// so its section is "QWidget") that owns a few captioned components.
class kaLanguageTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        QDir().mkpath(PathOf("Language"));
    }
    void TearDown() override {
        Form.reset();
        TempProgramDir::TearDown();
    }

    void WriteFile(const QString& name, const QByteArray& content) {
        QFile file(PathOf("Language/" + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void WriteLanguages() {
        WriteFile("english.ini", "[General]\nT_MSG_A=Apple\nT_MSG_B=Pear\n"
                                 "[QWidget]\nQWidget.OkButton.Caption=Ok\n"
                                 "QWidget.OkButton.Hint=Accept\n"
                                 "[QWidget.ListkaComboBox.Items]\n0=one\n1=two\n");
        WriteFile("german.ini", "[General]\nT_MSG_A=Apfel\nT_MSG_B=Birne\n"
                                "[QWidget]\nQWidget.OkButton.Caption=Gut\n"
                                "QWidget.OkButton.Hint=Annehmen\n"
                                "[QWidget.ListkaComboBox.Items]\n0=eins\n1=zwei\n");
        WriteFile("french.ini", "[General]\nT_MSG_A=Pomme\n");
    }

    void CreateForm() {
        Form = std::make_unique<QWidget>();
        SetOwner(Form.get(), nullptr, "Form");
        OkButton = Own(Form.get(), new QPushButton("Ok", Form.get()), "OkButton");
        OkButton->setToolTip("Accept");
        List = Own(Form.get(), new TkaComboBox(Form.get()), "ListkaComboBox");
        List->addItems({"one", "two"});
        Action = Own(Form.get(), new QAction("Play", Form.get()), "PlayAction");
        Action->setToolTip("Start playing");
        Tool = Own(Form.get(), new QToolButton(Form.get()), "PlayToolButton");
        Tool->setDefaultAction(Action);
        Separator = Own(Form.get(), new QAction(Form.get()), "N1");
        Separator->setSeparator(true);
        Separator->setText("-");
        Value = Own(Form.get(), new QLabel("12:00", Form.get()), "TimekaLabel");
        Language = Own(Form.get(), new TkaLanguage(Form.get()), "kaLanguage1");
        Language->BeforeExport = [this](QObject*) {
            ExcludeFromLanguage(Separator);
            ExcludeFromLanguage(Value);
        };
        LoadComponent(Form.get());
    }

    ScriptedDialogs Dialogs;
    std::unique_ptr<QWidget> Form;
    QPushButton* OkButton = nullptr;
    TkaComboBox* List = nullptr;
    QAction* Action = nullptr;
    QToolButton* Tool = nullptr;
    QAction* Separator = nullptr;
    QLabel* Value = nullptr;
    TkaLanguage* Language = nullptr;
};

const QLocale German(QLocale::German, QLocale::Germany);
const QLocale English(QLocale::English, QLocale::UnitedKingdom);

TEST_F(kaLanguageTest, FirstStartFollowsTheLocale) {
    WriteLanguages();
    StartLanguage({"Tarvik"}, German);
    EXPECT_EQ(CurrentLanguageName(), "german");
    EXPECT_EQ(LanguageFiles(), (QStringList{"english.ini", "french.ini", "german.ini"}));
    ResetLanguageSystem();
    StartLanguage({"Tarvik"}, English);
    EXPECT_EQ(CurrentLanguageName(), "english");
    EXPECT_EQ(CurrentLanguageIndex(), 0);
}

TEST_F(kaLanguageTest, NoFilesMeansNoLanguage) {
    StartLanguage({"Tarvik"}, German);
    EXPECT_EQ(CurrentLanguageIndex(), -1);
    EXPECT_EQ(CurrentLanguageName(), "english");
    EXPECT_TRUE(Dialogs.Asked.isEmpty());
}

TEST_F(kaLanguageTest, StoredNamesSelectTheirFileAndUnknownOnesAreIgnored) {
    WriteLanguages();
    for (const char* stored : {"german.ini", "German", "GERMAN"}) {
        ResetLanguageSystem();
        CfgIniFile()->WriteString("General", "ActiveLanguage", stored);
        StartLanguage({"Tarvik"}, English);
        EXPECT_EQ(CurrentLanguageName(), "german") << stored;
    }
    ResetLanguageSystem();
    CfgIniFile()->WriteString("General", "ActiveLanguage", "klingon");
    const int handle = RegisterMessage("T_MSG_A", "Apple");
    StartLanguage({"Tarvik"}, German);
    EXPECT_EQ(CurrentLanguageIndex(), -1);
    EXPECT_EQ(MessageText(handle), "Apple");
    EXPECT_TRUE(Dialogs.Asked.isEmpty());
    try {
        SelectLanguageByName("Klingon");
        FAIL() << "no exception";
    } catch (const LanguageException& e) {
        EXPECT_EQ(e.message(), "Unknown Language: Klingon");
    }
}

TEST_F(kaLanguageTest, MissingKeysKeepThePreviousLanguagesTexts) {
    WriteLanguages();
    const int a = RegisterMessage("T_MSG_A", "Apple");
    const int b = RegisterMessage("T_MSG_B", "Pear");
    CreateForm();
    SelectLanguageByName("german");
    EXPECT_EQ(MessageText(a), "Apfel");
    EXPECT_EQ(OkButton->text(), "Gut");
    EXPECT_EQ(OkButton->toolTip(), "Annehmen");
    EXPECT_EQ(List->itemText(1), "zwei");
    SelectLanguageByName("french");
    EXPECT_EQ(MessageText(a), "Pomme");
    EXPECT_EQ(MessageText(b), "Birne");
    EXPECT_EQ(OkButton->text(), "Gut");
    // A list without its section in the file is emptied.
    EXPECT_EQ(List->count(), 0);
    EXPECT_EQ(CurrentLanguageName(), "french");
}

TEST_F(kaLanguageTest, ExportRunWritesMessagesAndFormTexts) {
    WriteFile("language.ini", "[Old]\nstale=1\n");
    StartLanguage({"Tarvik", "--x", "\\EXPORTLANGUAGE"}, German);
    EXPECT_EQ(Dialogs.Asked, QStringList{"Message: Export Language"});
    EXPECT_EQ(CurrentLanguageIndex(), -1);
    RegisterMessage("T_MSG_A", "Apple");
    CreateForm();
    const TIniFile file(PathOf("Language/language.ini"));
    EXPECT_FALSE(file.SectionExists("Old"));
    EXPECT_EQ(file.ReadString("General", "T_MSG_A", ""), "Apple");
    EXPECT_EQ(file.ReadString("QWidget", "QWidget.OkButton.Caption", ""), "Ok");
    EXPECT_EQ(file.ReadString("QWidget", "QWidget.OkButton.Hint", ""), "Accept");
    EXPECT_EQ(file.ReadSection("QWidget.ListkaComboBox.Items"), (QStringList{"0", "1"}));
    // The tool button shows the action: only the action's texts are written.
    EXPECT_FALSE(file.ValueExists("QWidget", "QWidget.PlayToolButton.Caption"));
    EXPECT_FALSE(file.ValueExists("QWidget", "QWidget.PlayToolButton.Hint"));
    EXPECT_EQ(file.ReadString("QWidget", "QWidget.PlayAction.Caption", ""), "Play");
    EXPECT_EQ(file.ReadString("QWidget", "QWidget.PlayAction.Hint", ""), "Start playing");
    EXPECT_FALSE(file.ValueExists("QWidget", "QWidget.N1.Caption"));
    EXPECT_FALSE(file.ValueExists("QWidget", "QWidget.TimekaLabel.Caption"));
    EXPECT_FALSE(IsExportLanguageSwitch("ExportLanguage"));
    EXPECT_FALSE(IsExportLanguageSwitch("-ExportLanguages"));
}

TEST_F(kaLanguageTest, AFormCreatedAfterActivationIsTranslatedAndGetsAccelerators) {
    WriteLanguages();
    StartLanguage({"Tarvik"}, German);
    Form = std::make_unique<QWidget>();
    SetOwner(Form.get(), nullptr, "Form");
    OkButton = Own(Form.get(), new QPushButton("Ok", Form.get()), "OkButton");
    Own(Form.get(), new TkaLanguage(Form.get()), "kaLanguage1");
    Own(Form.get(), new TkaHotkey(Form.get()), "kaHotkey1");
    LoadComponent(Form.get());
    EXPECT_EQ(OkButton->text(), "&Gut");
    SelectLanguageByName("english");
    EXPECT_EQ(OkButton->text(), "&Ok");
}

TEST_F(kaLanguageTest, BadFilesNeverCrashAndKeepTheTexts) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) % 256));
    WriteFile("binary.ini", garbage);
    WriteFile("long.ini", "[QWidget]\nQWidget.OkButton.Caption=" + QByteArray(100000, 'x') + "\n");
    WriteFile("twice.ini", "[QWidget]\nQWidget.OkButton.Caption=First\n"
                           "QWidget.OkButton.Caption=Second\n[QWidget]\n"
                           "QWidget.OkButton.Caption=Third\n");
    WriteFile("gone.ini", "[QWidget]\nQWidget.OkButton.Caption=Gone\n");
    WriteFile(".hidden.ini", "[QWidget]\nQWidget.OkButton.Caption=Hidden\n");
    CreateForm();
    EXPECT_FALSE(LanguageFiles().contains(".hidden.ini"));
    SelectLanguageByName("binary");
    EXPECT_EQ(OkButton->text(), "Ok");
    SelectLanguageByName("long");
    EXPECT_FALSE(OkButton->text().isEmpty());
    SelectLanguageByName("twice");
    EXPECT_EQ(OkButton->text(), "First");
    ASSERT_TRUE(QFile::remove(PathOf("Language/gone.ini")));
    SelectLanguageByName("gone");
    EXPECT_EQ(OkButton->text(), "First");
    EXPECT_EQ(CurrentLanguageName(), "gone");
}

} // namespace
