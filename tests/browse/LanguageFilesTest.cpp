#include "DemoCameraBackend.h"
#include "EkaError.h"
#include "FNetworkCameras.h"
#include "FOffsiteCopy.h"
#include "FSetup.h"
#include "FTarvik.h"
#include "FTarvikClient.h"
#include "FVideoSetup.h"
#include "MailAccounts.h"
#include "ScriptedDialogs.h"
#include "TIniFile.h"
#include "TkaHashList.h"
#include "TempProgramDir.h"
#include "TrayIcon.h"
#include "frExplorer.h"
#include "frFeedBack.h"
#include "frRoot.h"
#include "frSetup.h"
#include "frVideo.h"
#include "kaAction.h"
#include "kaApplicationEvents.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaLanguage.h"
#include "kaPageControl.h"
#include "kaTreeView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidgetItem>
#include <functional>
#include <memory>

namespace {

const QString SourceLanguageDir = QStringLiteral(TARVIK_LANGUAGE_DIR);

// Both programs' windows over demo cameras in a fresh program folder that
// holds copies of the shipped language files.
class LanguageFilesTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
        SetMailHomeDir(PathOf("home"));
        SavedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        PreviousExit = TkaApplicationEvents::SetExitFunction(
            [](int code) { throw EkaError(QStringLiteral("exit %1").arg(code)); });
    }

    void TearDown() override {
        Client.reset();
        Form.reset();
        SetCaptureBackends({});
        TkaApplicationEvents::SetExitFunction(PreviousExit);
        SetBroadcastAddress(QHostAddress(QHostAddress::Broadcast));
        SetMailHomeDir(QString());
        QLocale::setDefault(SavedLocale);
        TempProgramDir::TearDown();
    }

    void InstallLanguages(const QStringList& names) {
        QDir().mkpath(PathOf("Language"));
        for (const QString& name : names)
            ASSERT_TRUE(QFile::copy(SourceLanguageDir + name, PathOf("Language/" + name)));
    }

    TTarvikForm& CreateForm(int cameras) {
        SetCaptureBackends({std::make_shared<TDemoCameraBackend>(cameras)});
        Form.reset(CreateLoaded<TTarvikForm>());
        Form->OpenDocument = [this](const QUrl& url, const std::function<void()>& failed) {
            Opened.append(url);
            if (!OpenSucceeds)
                failed();
        };
        return *Form;
    }

    QAction* LanguageItem(const QString& name) const {
        for (QAction* item : Form->LanguageSprache1->actions()) {
            if (item->text() == name)
                return item;
        }
        return nullptr;
    }

    ScriptedDialogs Dialogs;
    std::unique_ptr<TTarvikForm> Form;
    std::unique_ptr<TTarvikClientForm> Client;
    QList<QUrl> Opened;
    bool OpenSucceeds = true;
    QLocale SavedLocale;
    TkaApplicationEvents::TExitFunction PreviousExit;
};

// Every text that an export run of both programs writes must be in both
// shipped files, so that no new caption or message goes untranslated. Tree
// sections hold run-time node names (cameras, days) and are not shipped.
TEST_F(LanguageFilesTest, ShippedFilesHoldEveryExportedKey) {
    StartLanguage({QStringLiteral("Tarvik"), QStringLiteral("/ExportLanguage")});
    ASSERT_EQ(Dialogs.Asked, QStringList{"Message: Export Language"});
    EXPECT_EQ(CurrentLanguageIndex(), -1);
    CreateForm(1);
    Client.reset(CreateLoaded<TTarvikClientForm>());
    std::unique_ptr<TNetworkCamerasForm> cameras(CreateLoaded<TNetworkCamerasForm>(nullptr));
    std::unique_ptr<TOffsiteCopyForm> offsite(CreateLoaded<TOffsiteCopyForm>(nullptr));

    const TIniFile exported(PathOf("Language/language.ini"));
    const QStringList sections = exported.ReadSections();
    ASSERT_TRUE(sections.contains("General"));
    for (const char* form :
         {"TTarvikForm", "TVideoFrame", "TVideoSetupForm", "TSceneFrame", "TFeedbackFrame",
          "TExplorerFrame", "TkaPlayerFrame", "TTarvikClientForm", "TSetupForm",
          "TNetworkCamerasForm", "TOffsiteCopyForm"})
        EXPECT_TRUE(sections.contains(form)) << form;
    EXPECT_TRUE(exported.ValueExists("General", "FTARVIK_MSG_SCENES"));
    EXPECT_TRUE(exported.ValueExists("General", "FTARVIKCLIENT_MSG_TOOLTIPTEXT"));
    // Separators and run-time texts stay out.
    EXPECT_FALSE(exported.ValueExists("TTarvikForm", "TTarvikForm.N2.Caption"));
    EXPECT_FALSE(exported.ValueExists("TTarvikClientForm", "TTarvikClientForm.N1.Caption"));
    EXPECT_FALSE(exported.ValueExists("TSceneFrame", "TSceneFrame.SceneDirkaLabel.Caption"));
    EXPECT_FALSE(exported.SectionExists("TTarvikClientForm.CamkaComboBox.Items"));

    QStringList missing;
    for (const QString& file : {QStringLiteral("english.ini"), QStringLiteral("german.ini")}) {
        const TIniFile shipped(SourceLanguageDir + file);
        for (const QString& section : sections) {
            if (section.endsWith(".Tree"))
                continue;
            for (const auto& [key, value] : exported.ReadSectionValues(section)) {
                if (!shipped.ValueExists(section, key))
                    missing.append(file + ": [" + section + "] " + key + "=" + value);
            }
        }
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join('\n').toStdString();
}

// Every text of the open windows as their language components export it now,
// by key ("Section.Line" for list lines), and every message; no accelerators.
QMap<QString, QString> ShownTexts() {
    QFile::remove(LanguageDir() + "language.ini");
    for (QWidget* window : QApplication::topLevelWidgets()) {
        for (TkaLanguage* language : window->findChildren<TkaLanguage*>())
            language->ExportTexts();
    }
    QMap<QString, QString> texts;
    const TIniFile file(LanguageDir() + "language.ini");
    for (const QString& section : file.ReadSections()) {
        for (const auto& [key, value] : file.ReadSectionValues(section)) {
            if (!section.endsWith(".Tree")) // recorded node names
                texts.insert(key.at(0).isDigit() ? section + "." + key : key,
                             QString(value).remove('&'));
        }
    }
    for (int handle = 0; handle < MessageRegistry().Count(); ++handle)
        texts.insert(MessageRegistry().Key(handle),
                     QString(MessageRegistry().Text(handle)).remove('&'));
    return texts;
}

// Under German no caption, hint, list line or message equals its English text
// unless german.ini lists it as the same on purpose (names, units).
TEST_F(LanguageFilesTest, UnderGermanNoTextStaysEnglishUnlessTheFileSaysSo) {
    InstallLanguages({"english.ini", "german.ini"});
    CfgIniFile()->WriteString("General", "ActiveLanguage", "english");
    StartLanguage({QStringLiteral("Tarvik")});
    CreateForm(1);
    Client.reset(CreateLoaded<TTarvikClientForm>());
    std::unique_ptr<TNetworkCamerasForm> cameras(CreateLoaded<TNetworkCamerasForm>(nullptr));
    const QMap<QString, QString> english = ShownTexts();
    EXPECT_EQ(english.value("TkaPlayerFrame.PlayForwardAction.Hint"), "Play")
        << "a hint equal to its caption is a hint";
    SelectLanguageByName("german");
    const QMap<QString, QString> german = ShownTexts();
    const TIniFile file(SourceLanguageDir + "german.ini");
    QStringList same;
    for (auto text = english.constBegin(); text != english.constEnd(); ++text) {
        if (german.value(text.key()) == text.value() &&
            file.ReadString("Untranslated", text.key(), "\n").remove('&') != text.value())
            same.append(text.key() + "=" + text.value());
    }
    EXPECT_TRUE(same.isEmpty()) << same.join('\n').toStdString();
    for (const auto& [key, value] : file.ReadSectionValues("Untranslated"))
        EXPECT_EQ(german.value(key), QString(value).remove('&')) << "listed: " << key.toStdString();
}

// The texts that code puts together, where the user meets them.
TEST_F(LanguageFilesTest, TextsBuiltInCodeAreShownInTheActiveLanguage) {
    InstallLanguages({"english.ini", "german.ini"});
    StartLanguage({QStringLiteral("Tarvik")}, QLocale(QLocale::German, QLocale::Germany));
    TTarvikForm& form = CreateForm(1);
    TNetworkCameraEditDialog edit({}, {}, nullptr);
    OpenSucceeds = false;
    const std::pair<std::function<QString()>, QString> cases[] = {
        {[&] { return form.VideoFrames().at(0)->SourcekaEdit->toolTip(); },
         "Kameraname, der mit jedem gesendeten Bild übertragen wird (Buchstaben, Ziffern, _)"},
        {[] { return NetworkCameraDescription("Hof"); }, "Netzwerkkamera: Hof"},
        {[&] { return edit.Problem(); }, "Die Kamera braucht einen Namen."},
        {[&] {
             form.DirExplorerFramekaTreeViewClick(form.HelpNode);
             return Dialogs.Asked.value(0);
         },
         "Message: Kein Programm öffnet die Hilfe. Sie liegt hier:\n" + PathOf("Help/doc_g.htm")},
    };
    for (const auto& [shown, german] : cases)
        EXPECT_EQ(shown(), german);
}

TEST_F(LanguageFilesTest, GermanStartShowsGermanTextsWithAcceleratorsAndSwitchesBack) {
    InstallLanguages({"english.ini", "german.ini"});
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    StartLanguage({QStringLiteral("Tarvik")}, QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(CurrentLanguageName(), "german");
    TTarvikForm& form = CreateForm(2);

    TVideoFrame* camera = form.VideoFrames().at(0);
    EXPECT_EQ(form.HelpNode->text(0), "Hilfe");
    EXPECT_EQ(form.RootNode->child(1)->child(0)->text(0), "Szenen");
    EXPECT_EQ(form.CloseAction->text(), "Beenden ...");
    ASSERT_NE(LanguageItem("GERMAN"), nullptr);
    EXPECT_TRUE(LanguageItem("GERMAN")->isChecked());
    EXPECT_EQ(form.TrayIcon->ToolTip(),
              TRootFrame::ProductTitle() + "\r\n" + "(rechte Maustaste für Optionen)");
    // The camera page's tabs are German and carry distinct accelerators.
    QTabWidget* tabs = camera->kaPageControl;
    QStringList tabTexts;
    for (int i = 0; i < tabs->count(); ++i)
        tabTexts.append(tabs->tabText(i));
    EXPECT_TRUE(tabTexts.join('|').contains("&")) << tabTexts.join('|').toStdString();
    EXPECT_NE(tabTexts.join('|').remove('&'),
              QStringLiteral("Setup|Video")); // translated, whatever the order

    // Help opens the German document.
    form.DirExplorerFramekaTreeViewClick(form.HelpNode);
    ASSERT_EQ(Opened.size(), 1);
    EXPECT_TRUE(Opened.at(0).toLocalFile().endsWith("Help/doc_g.htm"));

    LanguageItem("ENGLISH")->trigger();
    EXPECT_EQ(CurrentLanguageName(), "english");
    EXPECT_EQ(form.HelpNode->text(0), "Help");
    EXPECT_EQ(form.RootNode->child(1)->child(0)->text(0), "Scenes");
    EXPECT_EQ(TIniFile(ConfigFileName()).ReadString("General", "ActiveLanguage", ""), "ENGLISH");
    EXPECT_TRUE(form.TrayIcon->ToolTip().endsWith("\r\n(right mouse button for options)"));
    for (int i = 0; i < tabs->count(); ++i)
        tabTexts[i] = tabs->tabText(i);
    EXPECT_TRUE(tabTexts.join('|').contains("&"));
}

TEST_F(LanguageFilesTest, AFolderThatCannotBeMadeLeavesTheMenuEmptyAndTheWindowWorking) {
    QFile blocker(PathOf("Language"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    StartLanguage({QStringLiteral("Tarvik")}, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(CurrentLanguageIndex(), -1);
    ASSERT_NO_THROW(CreateForm(1));
    EXPECT_TRUE(Form->LanguageSprache1->actions().isEmpty());
    EXPECT_TRUE(Form->FirstPlayTimer->isActive());
    EXPECT_EQ(Form->HelpNode->text(0), "Help");
    ASSERT_EQ(Dialogs.Asked.size(), 1);
    EXPECT_TRUE(Dialogs.Asked.at(0).contains("Error creating Directory"))
        << Dialogs.Asked.at(0).toStdString();
}

TEST_F(LanguageFilesTest, ClientSwitchesLanguageFromItsMenuAndKeepsItsCameras) {
    InstallLanguages({"english.ini", "german.ini"});
    CfgIniFile()->WriteString("General", "ActiveLanguage", "german.ini");
    StartLanguage({QStringLiteral("TarvikClient")},
                  QLocale(QLocale::English, QLocale::UnitedStates));
    Client.reset(CreateLoaded<TTarvikClientForm>());
    TTarvikClientForm& client = *Client;
    EXPECT_EQ(client.SetupForm->windowTitle(), "Einstellungen");
    EXPECT_EQ(client.SetupForm->CloseButton->text().remove('&'), "Schließen");
    const QString popup = client.SetupForm->SetupFrame1->PopupkaCheckBox->text();
    EXPECT_EQ(popup.count('&'), 1) << popup.toStdString();
    EXPECT_EQ(QString(popup).remove('&'), "Bei neuem Bild einblenden");
    EXPECT_TRUE(client.TrayIcon->ToolTip().endsWith("\r\n(rechte Maustaste für Optionen)"));
    EXPECT_TRUE(client.LanguageSprache1->menuAction()->isEnabled());

    client.CamkaComboBox->addItem("Garage");
    QAction* english = nullptr;
    for (QAction* item : client.LanguageSprache1->actions()) {
        if (item->text() == "ENGLISH")
            english = item;
    }
    ASSERT_NE(english, nullptr);
    english->trigger();
    EXPECT_TRUE(english->isChecked());
    EXPECT_EQ(client.SetupForm->CloseButton->text().remove('&'), "Close");
    // Language files hold no camera names: the list of cameras stays.
    EXPECT_EQ(client.CamkaComboBox->count(), 1);
    EXPECT_EQ(TIniFile(ConfigFileName()).ReadString("General", "ActiveLanguage", ""), "ENGLISH");
}

} // namespace
