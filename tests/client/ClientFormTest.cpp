#include "ClientPaintBox.h"
#include "ClientTestSupport.h"
#include "IdUDPServer.h"
#include "StmDir.h"
#include "StmJPG.h"
#include "StmRegister.h"
#include "TIniFile.h"
#include "frSetup.h"
#include "kaAction.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaEdit.h"
#include "kaPanel.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QUdpSocket>
#include <functional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 3000) {
    const QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int Errors(const QStringList& asked) {
    return int(asked.filter(QStringLiteral("Error: ")).size());
}

QByteArray Serialised(const TStmObject& object) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    object.SaveToStream(buffer);
    return buffer.data();
}

const QByteArray& SmallJpeg() {
    static const QByteArray jpeg = TestJpeg(64, 48, 10);
    return jpeg;
}

class ClientWindowTest : public ClientFormTest {
protected:
    // The pictures of Camera in the cache, as their times.
    QList<double> Times(const QString& camera) {
        QList<double> times;
        for (const auto& picture : Form->CamCache(camera)->Pictures)
            times.append(picture->Time());
        return times;
    }
    void EndQuietTime() { Form->PopupDelayTimer->stop(); }
};

// ---- Settings and start-up ---------------------------------------------------------

TEST_F(ClientWindowTest, AFreshInstallationHasTheDocumentedDefaults) {
    // No stored port either: a first start ever.
    TIniFile(ConfigFileName()).EraseSection(QStringLiteral("String"));
    TTarvikClientForm& form = CreateForm(false);
    TSetupFrame& setup = Frame();
    EXPECT_EQ(setup.UDPPortkaEdit->text(), "4032");
    EXPECT_EQ(form.IdUDPServer()->Port(), 4032);
    EXPECT_TRUE(setup.PopupkaCheckBox->isChecked());
    EXPECT_TRUE(setup.SoundkaCheckBox->isChecked());
    EXPECT_EQ(setup.SoundkaEdit->text(), PathOf("Sounds/Motion.wav"));
    EXPECT_TRUE(QDir(PathOf("Sounds")).exists());
    EXPECT_EQ(setup.CacheFrame->TrackBar->Position(), 10);
    EXPECT_EQ(setup.WaitPopupFrame->TrackBar->Position(), 10);
    EXPECT_FALSE(setup.MinimizekaCheckBox->isChecked());
    EXPECT_TRUE(setup.AutoSwitchCheckBox->isChecked());
    EXPECT_TRUE(setup.StretchkaCheckBox->isChecked());
    EXPECT_TRUE(setup.ShowToolbarCheckBox->isChecked());
    EXPECT_EQ(setup.WaitPopupFrame->TrackBar->Min(), 1);
    EXPECT_EQ(setup.WaitPopupFrame->TrackBar->Max(), 300);
    EXPECT_EQ(setup.CacheFrame->TrackBar->Min(), 1);
    EXPECT_EQ(setup.CacheFrame->TrackBar->Max(), 100);
    EXPECT_FALSE(form.CamkaComboBox->isEditable());
    EXPECT_EQ(form.windowTitle(), "Tarvik Client");
}

TEST_F(ClientWindowTest, StoredSettingsApplyAtTheFirstShowAndAreKeyedByTheirOwners) {
    {
        TIniFile ini(ConfigFileName());
        ini.WriteInteger("Integer", "SetupForm.SetupFrame1.WaitPopupFrame.TrackBar", 25);
        ini.WriteInteger("Integer", "SetupForm.SetupFrame1.CacheFrame.TrackBar", 4);
        ini.WriteBool("Boolean", "SetupForm.SetupFrame1.StretchkaCheckBox", false);
        ini.WriteBool("Boolean", "SetupForm.SetupFrame1.ShowToolbarCheckBox", false);
    }
    TTarvikClientForm& form = CreateForm();
    EXPECT_FALSE(form.FirstShow());
    EXPECT_EQ(form.PopupDelayTimer->interval(), 25000);
    EXPECT_EQ(form.kaTrackBar->Max(), 3);
    EXPECT_FALSE(form.StretchAction->isChecked());
    EXPECT_FALSE(form.ShowToolbarAction->isChecked());
    EXPECT_FALSE(form.ToolBarPanel->isVisible());
    ASSERT_TRUE(form.IdUDPServer()->Active());
    EXPECT_EQ(form.IdUDPServer()->Port(), Port);

    // The toolbar command writes its setting back, which outlives the run.
    form.ShowToolbarAction->trigger();
    EXPECT_TRUE(form.ToolBarPanel->isVisible());
    Form.reset();
    EXPECT_TRUE(TIniFile(ConfigFileName())
                    .ReadBool("Boolean", "SetupForm.SetupFrame1.ShowToolbarCheckBox", false));
}

TEST_F(ClientWindowTest, WithoutACameraTheStartPictureShowsAndTheStatusStaysEmpty) {
    TTarvikClientForm& form = CreateForm();
    ASSERT_FALSE(form.LastImage().Empty());
    EXPECT_EQ(form.LastImage().JpegData(), TTarvikClientForm::StartImage().JpegData());
    const QImage shown = Paint();
    EXPECT_TRUE(form.StatusPanel->text().isEmpty());
    // Stretched over the whole area: dark corners of the start picture.
    EXPECT_LT(qGray(shown.pixel(2, 2)), 80);
    EXPECT_LT(qGray(shown.pixel(shown.width() - 3, shown.height() - 3)), 80);
    // The cache holds compressed pictures only, the shown one included.
    EXPECT_FALSE(form.LastImage().HasBitmap());
}

TEST_F(ClientWindowTest, TheLastPictureIsStartJpgOfTheNextRun) {
    CreateForm();
    const QByteArray last = TestJpeg(80, 60, 200);
    Receive("Cam1", SmallJpeg());
    Receive("Garage", last);
    Form.reset();
    QFile file(PathOf("Start.Jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), last);
    file.close();

    TTarvikClientForm& next = CreateForm();
    EXPECT_EQ(next.LastImage().JpegData(), last);
    EXPECT_EQ(next.CamkaComboBox->count(), 0);
}

TEST_F(ClientWindowTest, AStartJpgCutShortIsReportedOnceAndReplacedByTheStartPicture) {
    const QByteArray picture = TestJpeg(640, 480, 3);
    QFile file(PathOf("Start.Jpg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(picture.left(picture.size() * 2 / 3));
    file.close();
    TTarvikClientForm& form = CreateForm();
    EXPECT_EQ(Errors(Dialogs.Asked), 1) << Dialogs.Asked.join('\n').toStdString();
    EXPECT_EQ(form.LastImage().JpegData(), TTarvikClientForm::StartImage().JpegData());
}

TEST_F(ClientWindowTest, AFailedWriteOfStartJpgIsReported) {
    CreateForm();
    Receive("Cam1", SmallJpeg());
    // A folder in the way of the file.
    ASSERT_TRUE(QDir().mkdir(PathOf("Start.Jpg")));
    Form.reset();
    EXPECT_EQ(Errors(Dialogs.Asked), 1) << Dialogs.Asked.join('\n').toStdString();
}

// ---- Receiving ---------------------------------------------------------------------

TEST_F(ClientWindowTest, TheFirstPictureEverIsListedShownAndAnnounced) {
    TTarvikClientForm& form = CreateForm();
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_MOTION_WAV), PathOf("Sounds/Motion.wav")));
    form.hide();
    const QByteArray jpeg = TestJpeg(640, 480, 1);
    Receive("MyCam", jpeg, 46000.75);

    EXPECT_EQ(CameraNames(), QStringList{"MyCam"});
    EXPECT_EQ(form.CamkaComboBox->currentText(), "MyCam");
    EXPECT_EQ(form.kaTrackBar->Max(), 0);
    EXPECT_EQ(form.kaTrackBar->Position(), 0);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Played, QStringList{"play:" + PathOf("Sounds/Motion.wav")});
    EXPECT_TRUE(form.TrayTimer->isActive());
    EXPECT_EQ(form.LastImage().JpegData(), jpeg);

    Paint();
    EXPECT_EQ(form.StatusPanel->text(),
              QStringLiteral("640x480 [%1] (%2 Byte)")
                  .arg(QLocale().toString(DateTimeToQDateTime(46000.75), QLocale::ShortFormat))
                  .arg(jpeg.size()));
}

TEST_F(ClientWindowTest, WithoutAutoSwitchTheFirstPictureIsShownButNotAnnounced) {
    TTarvikClientForm& form = CreateForm();
    Frame().AutoSwitchCheckBox->setChecked(false);
    form.hide();
    Receive("MyCam", SmallJpeg());
    EXPECT_EQ(form.CamkaComboBox->currentText(), "MyCam");
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Played.isEmpty());
    EXPECT_FALSE(form.PopupDelayTimer->isActive());
}

TEST_F(ClientWindowTest, AMissingSoundFileBeepsAndSwitchesTurnPopupAndSoundOff) {
    TTarvikClientForm& form = CreateForm();
    Frame().SoundkaEdit->setText(PathOf("Sounds/none.wav"));
    Receive("Cam1", SmallJpeg());
    EXPECT_EQ(Played, QStringList{"beep"});

    EndQuietTime();
    Frame().PopupkaCheckBox->setChecked(false);
    Frame().SoundkaCheckBox->setChecked(false);
    form.hide();
    Receive("Cam1", SmallJpeg());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Played.size(), 1);
    // A notification all the same: the quiet time runs.
    EXPECT_TRUE(form.PopupDelayTimer->isActive());
}

// Whether a window, each time it was shown, was to leave the focus where it was.
class TShowWatch : public QObject {
public:
    QList<bool> WithoutActivating;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            WithoutActivating.append(
                static_cast<QWidget*>(watched)->testAttribute(Qt::WA_ShowWithoutActivating));
        return false;
    }
};

TEST_F(ClientWindowTest, APopupLeavesTheFocusWhereTheUserTypesTheTrayMenuTakesIt) {
    TTarvikClientForm& form = CreateForm();
    form.hide();
    TShowWatch watch;
    form.installEventFilter(&watch);
    Receive("Cam1", SmallJpeg());
    form.hide();
    form.ShowAction->trigger();
    EXPECT_EQ(watch.WithoutActivating, (QList<bool>{true, false}));
}

TEST_F(ClientWindowTest, TheEleventhPictureWithCacheTenDropsTheOldest) {
    TTarvikClientForm& form = CreateForm();
    for (int i = 1; i <= 11; ++i)
        Receive("Cam1", SmallJpeg(), 46000.0 + i);
    const QList<double> times = Times("Cam1");
    ASSERT_EQ(times.size(), 10);
    EXPECT_EQ(times.first(), 46002.0);
    EXPECT_EQ(times.last(), 46011.0);
    EXPECT_EQ(form.kaTrackBar->Max(), 9);
    EXPECT_EQ(form.kaTrackBar->Position(), 9);
}

TEST_F(ClientWindowTest, ALoweredCacheSizeAppliesAtThatCamerasNextPicture) {
    CreateForm();
    for (int i = 1; i <= 10; ++i) {
        Receive("Cam1", SmallJpeg(), 46000.0 + i);
        Receive("Cam2", SmallJpeg(), 47000.0 + i);
    }
    Frame().CacheFrame->TrackBar->SetPosition(3);
    EXPECT_EQ(Times("Cam1").size(), 10);
    Receive("Cam1", SmallJpeg(), 46011.0);
    EXPECT_EQ(Times("Cam1"), (QList<double>{46009.0, 46010.0, 46011.0}));
    EXPECT_EQ(Times("Cam2").size(), 10);
}

TEST_F(ClientWindowTest, TheQuietTimeAllowsOneNotificationAndEndsOnItsOwn) {
    TTarvikClientForm& form = CreateForm();
    EXPECT_EQ(form.PopupDelayTimer->interval(), 10000);
    Receive("Cam1", SmallJpeg());
    Receive("Cam1", SmallJpeg());
    EXPECT_EQ(Played.size(), 1);

    // One second, taken over when the dialog closes.
    Frame().WaitPopupFrame->TrackBar->SetPosition(1);
    form.SetupActionExecute();
    EXPECT_EQ(form.PopupDelayTimer->interval(), 1000);
    EndQuietTime();
    Receive("Cam1", SmallJpeg());
    EXPECT_EQ(Played.size(), 2);
    Receive("Cam1", SmallJpeg());
    EXPECT_EQ(Played.size(), 2);
    // The quiet time is not prolonged by the picture inside it.
    ASSERT_TRUE(WaitUntil([&] { return !form.PopupDelayTimer->isActive(); }, 3000));
    form.hide();
    Receive("Cam1", SmallJpeg());
    EXPECT_EQ(Played.size(), 3);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ClientWindowTest, ASecondCameraTakesOverTheViewWithAutoSwitch) {
    TTarvikClientForm& form = CreateForm();
    for (int i = 0; i < 3; ++i)
        Receive("Cam1", SmallJpeg());
    EndQuietTime();
    const QByteArray garage = TestJpeg(32, 32, 99);
    Receive("Garage", garage);
    EXPECT_EQ(CameraNames(), (QStringList{"Cam1", "Garage"}));
    EXPECT_EQ(form.CamkaComboBox->currentText(), "Garage");
    EXPECT_EQ(form.kaTrackBar->Max(), 0);
    EXPECT_EQ(form.kaTrackBar->Position(), 0);
    EXPECT_EQ(Played.size(), 2);
    Paint();
    EXPECT_TRUE(form.StatusPanel->text().startsWith("32x32 "))
        << form.StatusPanel->text().toStdString();
}

TEST_F(ClientWindowTest, WithoutAutoSwitchASecondCameraIsOnlyCached) {
    TTarvikClientForm& form = CreateForm();
    Frame().AutoSwitchCheckBox->setChecked(false);
    for (int i = 0; i < 3; ++i)
        Receive("Cam1", SmallJpeg());
    form.kaTrackBar->SetPosition(1);
    EndQuietTime();
    form.TrayTimer->stop();
    form.hide();
    const int played = int(Played.size());
    Receive("Garage", SmallJpeg());
    EXPECT_EQ(CameraNames(), (QStringList{"Cam1", "Garage"}));
    EXPECT_EQ(form.CamkaComboBox->currentText(), "Cam1");
    EXPECT_EQ(form.kaTrackBar->Max(), 2);
    EXPECT_EQ(form.kaTrackBar->Position(), 1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Played.size(), played);
    EXPECT_FALSE(form.PopupDelayTimer->isActive());
    EXPECT_TRUE(form.TrayTimer->isActive());
    // The shown camera's own pictures still announce themselves.
    Receive("Cam1", SmallJpeg());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ClientWindowTest, CamerasDifferingInLetterCaseShareOneSortedEntry) {
    TTarvikClientForm& form = CreateForm();
    Receive("Cam1", SmallJpeg());
    Receive("b-cam", SmallJpeg());
    Receive("CAM1", TestJpeg(40, 30, 5));
    Receive("a-cam", SmallJpeg());
    EXPECT_EQ(CameraNames(), (QStringList{"a-cam", "b-cam", "Cam1"}));
    EXPECT_EQ(Times("cam1").size(), 2);

    // The picture of CAM1 belongs to the shown camera Cam1 and is painted.
    Frame().AutoSwitchCheckBox->setChecked(false);
    form.CamkaComboBox->setCurrentIndex(form.CamkaComboBox->findText("Cam1"));
    form.CamkaComboBoxClick();
    Paint();
    Receive("CAM1", TestJpeg(48, 36, 6));
    Paint();
    EXPECT_TRUE(form.StatusPanel->text().startsWith("48x36 "))
        << form.StatusPanel->text().toStdString();
}

TEST_F(ClientWindowTest, PlaybackRunsOldestToNewestAndIgnoresNewPictures) {
    TTarvikClientForm& form = CreateForm();
    for (int i = 1; i <= 3; ++i)
        Receive("Cam1", SmallJpeg(), 46000.0 + i);
    form.PlayAction->trigger();
    EXPECT_TRUE(form.PlayAction->isChecked());
    EXPECT_TRUE(form.PlayTimer->isActive());
    EXPECT_EQ(form.PlayTimer->interval(), 200);
    EXPECT_FALSE(form.CamkaComboBox->isEnabled());
    EXPECT_EQ(form.kaTrackBar->Position(), 0);

    Receive("Cam1", SmallJpeg(), 46004.0);
    Receive("Garage", SmallJpeg());
    EXPECT_EQ(form.CamkaComboBox->currentText(), "Cam1");
    EXPECT_EQ(form.kaTrackBar->Position(), 0);
    EXPECT_EQ(form.kaTrackBar->Max(), 3);

    for (int step = 1; step <= 3; ++step) {
        form.PlayTimerTimer();
        EXPECT_EQ(form.kaTrackBar->Position(), step);
    }
    form.PlayTimerTimer();
    EXPECT_FALSE(form.PlayAction->isChecked());
    EXPECT_FALSE(form.PlayTimer->isActive());
    EXPECT_TRUE(form.CamkaComboBox->isEnabled());
    EXPECT_EQ(form.kaTrackBar->Position(), 3);
}

TEST_F(ClientWindowTest, TheHistorySliderPicksThePictureShown) {
    TTarvikClientForm& form = CreateForm();
    Receive("Cam1", TestJpeg(20, 10, 1), 46001.0);
    Receive("Cam1", TestJpeg(30, 10, 1), 46002.0);
    form.kaTrackBar->SetPosition(0);
    Paint();
    EXPECT_TRUE(form.StatusPanel->text().startsWith("20x10 "));
    // An entry put into the list from outside has no pictures: "-".
    form.CamkaComboBox->addItem("Empty");
    form.CamkaComboBox->setCurrentIndex(form.CamkaComboBox->findText("Empty"));
    form.CamkaComboBoxClick();
    EXPECT_EQ(form.kaTrackBar->Min(), 0);
    EXPECT_EQ(form.kaTrackBar->Max(), 0);
    Paint();
    EXPECT_EQ(form.StatusPanel->text(), "-");
    Receive("Empty", TestJpeg(30, 20, 1));
    EXPECT_EQ(Times("Empty").size(), 1);
}

TEST_F(ClientWindowTest, AnEmptiedCameraListStartsEachCameraAfresh) {
    // As a language import leaves it: entries gone, caches out of reach.
    TTarvikClientForm& form = CreateForm();
    for (int i = 0; i < 4; ++i)
        Receive("Cam1", SmallJpeg());
    form.CamkaComboBox->clear();
    EXPECT_EQ(form.CurrentCamCache(), nullptr);
    Receive("Cam1", SmallJpeg());
    EXPECT_EQ(CameraNames(), QStringList{"Cam1"});
    EXPECT_EQ(Times("Cam1").size(), 1);
    EXPECT_EQ(form.CamkaComboBox->currentText(), "Cam1");
}

TEST_F(ClientWindowTest, DatagramsThatAreNotPicturesChangeNothing) {
    TTarvikClientForm& form = CreateForm();
    const QByteArray start = form.LastImage().JpegData();
    TStmDir dir;
    dir.SetName("Cam1");
    TStmRegister reg;
    QByteArray one = PictureDatagram("Cam1", SmallJpeg());
    one[0] = 1;
    const QByteArray whole = PictureDatagram("Cam1", SmallJpeg());
    QByteArray notJpeg = PictureDatagram("Cam1", QByteArray(100, 'x'));
    QByteArray negative = whole;
    negative[12] = char(0xff); // the source count becomes negative
    negative[15] = char(0xff);
    for (const QByteArray& datagram :
         {Serialised(dir), Serialised(reg), one, whole.left(whole.size() - 1), whole.left(3),
          QByteArray(), notJpeg, negative})
        ReceiveBytes(datagram);
    EXPECT_EQ(form.CamkaComboBox->count(), 0);
    EXPECT_EQ(form.LastImage().JpegData(), start);
    EXPECT_TRUE(Played.isEmpty());
    EXPECT_FALSE(form.TrayTimer->isActive());
    EXPECT_TRUE(Dialogs.Asked.isEmpty()) << Dialogs.Asked.join('\n').toStdString();
}

TEST_F(ClientWindowTest, OddButWellFormedPicturesAreHandledSafely) {
    TTarvikClientForm& form = CreateForm();
    // No picture bytes at all: listed, painted as background.
    Receive("Empty", QByteArray());
    Paint();
    EXPECT_TRUE(form.StatusPanel->text().startsWith("0x0 "))
        << form.StatusPanel->text().toStdString();
    EXPECT_TRUE(form.LastImage().Empty());
    // A source name of 100,000 bytes and a time that is no date.
    const QString huge(100000, QLatin1Char('n'));
    Receive(huge, SmallJpeg(), std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(form.CamkaComboBox->currentText(), huge);
    Paint();
    EXPECT_TRUE(form.StatusPanel->text().contains("[?]")) << form.StatusPanel->text().toStdString();
    EXPECT_TRUE(Dialogs.Asked.isEmpty());
}

TEST_F(ClientWindowTest, APictureThatDoesNotDecodeIsReportedOnceFromTheEventLoopAndNotKept) {
    TTarvikClientForm& form = CreateForm();
    const QByteArray start = form.LastImage().JpegData();
    // Cut short: dropped where it arrives, like a damaged datagram.
    QByteArray cut = TestJpeg(640, 480, 3);
    cut.truncate(cut.size() * 2 / 3);
    Receive("Cam1", cut);
    EXPECT_EQ(form.CamkaComboBox->count(), 0);
    EXPECT_EQ(form.LastImage().JpegData(), start);

    // Complete in its form, broken inside: found only when it is painted.
    const QByteArray broken = cut + QByteArray("\xFF\xD9", 2);
    Receive("Cam1", broken);
    Paint();
    EXPECT_EQ(Errors(Dialogs.Asked), 0) << "a box opened inside the paint handler";
    QCoreApplication::processEvents();
    Paint();
    form.PaintBox->Clear();
    Paint();
    QCoreApplication::processEvents();
    EXPECT_EQ(Errors(Dialogs.Asked), 1) << Dialogs.Asked.join('\n').toStdString();
    EXPECT_TRUE(form.LastImage().Empty()) << "it would be the next start's picture";
    // Another broken picture is news again.
    QByteArray other = TestJpeg(640, 480, 4);
    other = other.left(other.size() * 2 / 3) + QByteArray("\xFF\xD9", 2);
    Receive("Cam1", other);
    Paint();
    QCoreApplication::processEvents();
    EXPECT_EQ(Errors(Dialogs.Asked), 2);
}

TEST_F(ClientWindowTest, AFloodOfCameraNamesKeepsTheShownCameraAndABoundedTable) {
    TTarvikClientForm& form = CreateForm();
    Frame().CacheFrame->TrackBar->SetPosition(3);
    Frame().AutoSwitchCheckBox->setChecked(false);
    const QByteArray picture = SmallJpeg();
    for (int i = 0; i < 3; ++i)
        Receive("Door", picture, 46000.0 + i);
    form.CamkaComboBox->setCurrentIndex(form.CamkaComboBox->findText("Door"));
    form.CamkaComboBoxClick();
    for (int i = 0; i < 3000; ++i)
        Receive(QStringLiteral("stranger%1").arg(i), picture);
    EXPECT_EQ(form.CamkaComboBox->count(), TTarvikClientForm::MaxCameras);
    EXPECT_EQ(form.CamkaComboBox->currentText(), "Door");
    EXPECT_EQ(Times("Door").size(), 3) << "the shown camera keeps its pictures";
    // The newest names stay, the oldest went, and the list stays sorted.
    const QStringList names = CameraNames();
    EXPECT_TRUE(names.contains("stranger2999"));
    EXPECT_FALSE(names.contains("stranger0"));
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    EXPECT_EQ(names, sorted);
    // A camera heard again is found whatever its letter case.
    Receive("DOOR", picture, 46010.0);
    EXPECT_EQ(Times("Door").size(), 3);
    EXPECT_EQ(Times("Door").last(), 46010.0);
    EXPECT_EQ(form.CamkaComboBox->count(), TTarvikClientForm::MaxCameras);
}

TEST_F(ClientWindowTest, CentredPicturesUseIntegerHalves) {
    TTarvikClientForm& form = CreateForm();
    form.StretchAction->trigger();
    EXPECT_FALSE(Frame().StretchkaCheckBox->isChecked());
    form.PaintBox->setFixedSize(101, 51);
    Receive("Cam1", TestJpeg(20, 10, 0));
    const QImage shown = Paint();
    // Left (101 - 20) / 2 = 40, top (51 - 10) / 2 = 20.
    const QColor background = form.PaintBox->BackgroundColor();
    EXPECT_EQ(QColor(shown.pixel(39, 25)), background);
    EXPECT_NE(QColor(shown.pixel(40, 25)), background);
    EXPECT_NE(QColor(shown.pixel(59, 25)), background);
    EXPECT_EQ(QColor(shown.pixel(60, 25)), background);
    EXPECT_EQ(QColor(shown.pixel(45, 19)), background);
    EXPECT_NE(QColor(shown.pixel(45, 20)), background);
}

// ---- The receiver and its port ----------------------------------------------------

TEST_F(ClientWindowTest, PicturesArriveOverTheNetworkAndAPortChangeTakesEffectOnClosing) {
    TTarvikClientForm& form = CreateForm();
    QUdpSocket sender;
    sender.writeDatagram(PictureDatagram("Net", SmallJpeg()), QHostAddress::LocalHost,
                         quint16(Port));
    ASSERT_TRUE(WaitUntil([&] { return form.CamkaComboBox->count() == 1; }));

    const int newPort = FreeUdpPort();
    bool stoppedMeanwhile = false;
    form.ShowModal = [&](QDialog&) {
        stoppedMeanwhile = form.IdUDPServer() == nullptr;
        Frame().UDPPortkaEdit->setText(QString::number(newPort));
    };
    form.SetupActionExecute();
    EXPECT_TRUE(stoppedMeanwhile);
    ASSERT_TRUE(form.IdUDPServer()->Active());
    EXPECT_EQ(form.IdUDPServer()->Port(), newPort);
    sender.writeDatagram(PictureDatagram("Moved", SmallJpeg()), QHostAddress::LocalHost,
                         quint16(newPort));
    ASSERT_TRUE(WaitUntil([&] { return form.CamkaComboBox->count() == 2; }));
    EXPECT_EQ(CameraNames(), (QStringList{"Moved", "Net"}));
}

TEST_F(ClientWindowTest, AnUnusablePortIsReportedAndTheFirstShowRunsAgain) {
    QUdpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    for (const QString& port : {QString(), QStringLiteral("0"), QStringLiteral("70000"),
                                QString::number(other.localPort())}) {
        SCOPED_TRACE(port.toStdString());
        Dialogs.Asked.clear();
        TIniFile(ConfigFileName())
            .WriteString("String", "SetupForm.SetupFrame1.UDPPortkaEdit", port);
        TTarvikClientForm& form = CreateForm();
        EXPECT_EQ(Errors(Dialogs.Asked), 1) << Dialogs.Asked.join('\n').toStdString();
        EXPECT_TRUE(form.FirstShow());
        EXPECT_FALSE(form.IdUDPServer()->Active());
        // Steps after the failed activation did not run.
        EXPECT_TRUE(form.LastImage().Empty());
        Form.reset();
    }

    // Repaired in the dialog: listening again, and the next show completes.
    TIniFile(ConfigFileName()).WriteString("String", "SetupForm.SetupFrame1.UDPPortkaEdit", "");
    TTarvikClientForm& form = CreateForm();
    Frame().UDPPortkaEdit->setText(QString::number(Port));
    form.SetupActionExecute();
    ASSERT_TRUE(form.IdUDPServer()->Active());
    form.hide();
    form.show();
    EXPECT_FALSE(form.FirstShow());
    EXPECT_FALSE(form.LastImage().Empty());
}

TEST_F(ClientWindowTest, AFailedActivationAfterSetupKeepsTheOldDisplaySettings) {
    TTarvikClientForm& form = CreateForm();
    Frame().UDPPortkaEdit->setText("0");
    Frame().WaitPopupFrame->TrackBar->SetPosition(60);
    form.SetupActionExecute();
    EXPECT_EQ(Errors(Dialogs.Asked), 1);
    EXPECT_FALSE(form.IdUDPServer()->Active());
    EXPECT_EQ(form.PopupDelayTimer->interval(), 10000);
}

// ---- Window ------------------------------------------------------------------------

TEST_F(ClientWindowTest, TheCloseBoxHidesAndOnlyExitEndsTheProgram) {
    TTarvikClientForm& form = CreateForm();
    int terminated = 0;
    QObject::connect(&form, &TTarvikClientForm::Terminated, [&] { ++terminated; });
    form.close();
    EXPECT_EQ(terminated, 0);
    // Without a notification area the window is minimised instead.
    EXPECT_TRUE(!form.isVisible() || form.isMinimized());
    form.ShowActionExecute();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());

    form.CloseActionExecute();
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(form.IdUDPServer()->Active());
    const TIniFile ini(ConfigFileName());
    EXPECT_TRUE(ini.ValueExists("TarvikClientForm", "Top"));
    EXPECT_EQ(ini.ReadInteger("TarvikClientForm", "Width", 0), form.width());
    EXPECT_FALSE(ini.ReadBool("TarvikClientForm", "Minimized", true));
}

TEST_F(ClientWindowTest, TheEndOfTheSessionRemovesTheTrayIconAndEndsOnce) {
    TTarvikClientForm& form = CreateForm();
    int terminated = 0;
    QObject::connect(&form, &TTarvikClientForm::Terminated, [&] { ++terminated; });
    form.WMQueryEndSession();
    EXPECT_EQ(form.TrayIcon, nullptr);
    EXPECT_TRUE(form.QuitRequested());
    EXPECT_EQ(terminated, 1);
}

TEST_F(ClientWindowTest, StartupMinimizedSendsTheWindowAway) {
    TIniFile(ConfigFileName())
        .WriteBool("Boolean", "SetupForm.SetupFrame1.MinimizekaCheckBox", true);
    TTarvikClientForm& form = CreateForm();
    ASSERT_TRUE(WaitUntil([&] { return !form.isVisible() || form.isMinimized(); }));
}

TEST_F(ClientWindowTest, TheTrayAnimationCyclesSevenFramesAndKeepsItsPlace) {
    TTarvikClientForm& form = CreateForm();
    const QList<QIcon> frames = TTarvikClientForm::TrayImages();
    ASSERT_EQ(frames.size(), 7);
    EXPECT_EQ(form.TrayTimer->interval(), 100);
    for (int tick = 0; tick < 9; ++tick)
        form.TrayTimerTimer();
    EXPECT_EQ(form.TrayFrame(), 2);
    Receive("Cam1", SmallJpeg());
    EXPECT_TRUE(form.TrayTimer->isActive());
    form.ShowActionExecute();
    EXPECT_FALSE(form.TrayTimer->isActive());
    EXPECT_EQ(form.TrayFrame(), 2);
}

} // namespace
