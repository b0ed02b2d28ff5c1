#include "DemoCameraBackend.h"
#include "FVideoSetup.h"
#include "IdUDPClient.h"
#include "PageFixture.h"
#include "StmJPG.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaEdit.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimer>
#include <QUdpSocket>

// Every datagram goes to 127.0.0.1, where the test listens; nothing is broadcast.
class BroadcastTest : public PageFixture {
protected:
    void SetUp() override {
        PageFixture::SetUp();
        SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
        ASSERT_TRUE(Receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    }

    void TearDown() override {
        PageFixture::TearDown();
        SetBroadcastAddress(QHostAddress(QHostAddress::Broadcast));
    }

    void StartBroadcasting(TVideoFrame& page) {
        page.UDPPortkaEdit->setText(QString::number(Receiver.localPort()));
        page.ActionList1->UpdateActions();
        page.BroadcastAction->trigger();
        ASSERT_TRUE(page.BroadcastAction->isChecked());
    }

    // The next datagram, or an empty array when none comes within Milliseconds.
    QByteArray Receive(int milliseconds = 2000) {
        if (!Receiver.hasPendingDatagrams() && !Receiver.waitForReadyRead(milliseconds))
            return {};
        QByteArray datagram(qsizetype(Receiver.pendingDatagramSize()), '\0');
        Receiver.readDatagram(datagram.data(), datagram.size());
        return datagram;
    }

    // Makes the next datagram of a picture of JpegSize bytes exactly Total bytes long.
    static void SetSourceForSize(TVideoFrame& page, qint64 jpegSize, qint64 total) {
        page.SourcekaEdit->setMaxLength(100000);
        page.SourcekaEdit->setText(QString(qsizetype(total - 20 - jpegSize), QLatin1Char('a')));
    }

    static QImage HalfBright(bool leftBright) {
        QImage picture = TTestCameraScript::Grey(QSize(64, 64), 100);
        for (int y = 0; y < 64; ++y)
            for (int x = leftBright ? 0 : 32; x < (leftBright ? 32 : 64); ++x)
                picture.setPixelColor(x, y, QColor(150, 150, 150));
        return picture;
    }

    static void Type(QWidget* edit, Qt::Key key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(edit, &press);
    }

    QUdpSocket Receiver;
};

TEST_F(BroadcastTest, MotionPictureArrivesAsOneStmJpgDatagram) {
    TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
    // On a 10-column grid the walking visitor changes well under 100 segments:
    // only the first frame and a rebuilt grid are motion here.
    page.SetupForm()->MotionFrame->TrackBar->SetPosition(100);
    page.SetupForm()->XTrackbarFrame->TrackBar->SetPosition(10);
    EXPECT_TRUE(page.IdUDPClient->Active());
    EXPECT_TRUE(page.IdUDPClient->BroadcastEnabled());
    StartBroadcasting(page);
    SetClock([] { return 45000.75; });
    page.PlayActionExecute();
    Tick();
    ASSERT_TRUE(page.Motion());

    const QByteArray datagram = Receive();
    ASSERT_FALSE(datagram.isEmpty());
    QBuffer stream;
    stream.setData(datagram);
    stream.open(QIODevice::ReadOnly);
    std::unique_ptr<TStmObject> object = TStmObject::ReadStmObject(stream);
    const auto* picture = dynamic_cast<const TStmJPG*>(object.get());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Source(), "MyCam");
    EXPECT_EQ(picture->Time(), 45000.75);
    EXPECT_EQ(picture->Image().JpegData(), page.Jpeg().JpegData());
    EXPECT_EQ(datagram.size(), 20 + 5 + page.Jpeg().Size());

    Tick(); // the same still scene: no motion, nothing sent
    EXPECT_FALSE(page.Motion());
    EXPECT_TRUE(Receive(100).isEmpty());

    page.BroadcastAction->trigger(); // off: motion pictures stay at home
    page.SetupForm()->XTrackbarFrame->TrackBar->SetPosition(20); // next frame is motion
    Tick();
    EXPECT_TRUE(page.Motion());
    EXPECT_TRUE(Receive(100).isEmpty());
}

TEST_F(BroadcastTest, OversizedDatagramsArriveAsFittingCopiesAndBroadcastingGoesOn) {
    // Each switch between the two pictures brightens one half: always motion.
    const QImage a = HalfBright(true);
    const QImage b = HalfBright(false);
    TVideoFrame& page = CreateTestCameraPage();
    page.PlayActionExecute();
    Camera->Picture = a;
    Tick();
    const qint64 sizeA = page.Jpeg().Size();
    Camera->Picture = b;
    Tick();
    const qint64 sizeB = page.Jpeg().Size();
    StartBroadcasting(page);

    // One byte more than IPv4 carries: a copy compressed again fits.
    SetSourceForSize(page, sizeA, 65508);
    Camera->Picture = a;
    Tick();
    ASSERT_TRUE(page.Motion());
    const QByteArray copy = Receive();
    EXPECT_GT(copy.size(), 0);
    EXPECT_LE(copy.size(), 65507);
    EXPECT_EQ(page.Jpeg().Size(), sizeA); // the stored picture is untouched
    EXPECT_TRUE(page.BroadcastAction->isChecked());

    SetSourceForSize(page, sizeB, 65507); // the largest UDP payload over IPv4
    Camera->Picture = b;
    Tick();
    EXPECT_EQ(Receive().size(), 65507);
    EXPECT_TRUE(page.BroadcastAction->isChecked());

    // A name that leaves no room for any picture: skipped, broadcasting goes on.
    SetSourceForSize(page, 0, 65600);
    Camera->Picture = b;
    Tick();
    EXPECT_TRUE(Receive(100).isEmpty());
    EXPECT_TRUE(page.BroadcastAction->isChecked());
    EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(BroadcastTest, ASendErrorSwitchesBroadcastingOff) {
    TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
    StartBroadcasting(page);
    // The sender's socket speaks IPv4 only: a datagram to the IPv6 loopback is refused.
    SetBroadcastAddress(QHostAddress(QHostAddress::LocalHostIPv6));
    page.PlayActionExecute();
    Tick();
    ASSERT_TRUE(page.Motion());
    EXPECT_FALSE(page.BroadcastAction->isChecked());
    EXPECT_TRUE(Errors.isEmpty());
    page.ActionList1->UpdateActions();
    EXPECT_TRUE(page.SourcekaEdit->isEnabled());
    EXPECT_TRUE(page.UDPPortkaEdit->isEnabled());
}

TEST_F(BroadcastTest, ActionNeedsASourceAndAPortAndLocksBoth) {
    TVideoFrame& page = CreateTestCameraPage();
    const auto enabledWith = [&](const QString& source, const QString& port) {
        page.SourcekaEdit->setText(source);
        page.UDPPortkaEdit->setText(port);
        page.ActionList1->UpdateActions();
        return page.BroadcastAction->isEnabled();
    };
    EXPECT_TRUE(enabledWith("MyCam", "4032"));
    EXPECT_FALSE(enabledWith("", "4032"));
    EXPECT_FALSE(enabledWith("MyCam", "0"));
    EXPECT_FALSE(enabledWith("MyCam", ""));
    EXPECT_FALSE(enabledWith("MyCam", "70000"));
    EXPECT_TRUE(enabledWith("MyCam", "5001"));

    page.BroadcastAction->trigger();
    EXPECT_EQ(page.IdUDPClient->Port(), 5001);
    page.ActionList1->UpdateActions();
    EXPECT_FALSE(page.SourcekaEdit->isEnabled());
    EXPECT_FALSE(page.UDPPortkaEdit->isEnabled());
    page.BroadcastAction->trigger();
    page.ActionList1->UpdateActions();
    EXPECT_TRUE(page.SourcekaEdit->isEnabled());
    EXPECT_TRUE(page.UDPPortkaEdit->isEnabled());
}

TEST_F(BroadcastTest, EditsAcceptOnlyTheirCharacters) {
    TVideoFrame& page = CreateTestCameraPage();
    TkaEdit* source = page.SourcekaEdit;
    source->clear();
    for (const char* typed : {"a", "Z", "5", "_", " ", "-", "\u00e4", "."})
        Type(source, Qt::Key_unknown, QString::fromUtf8(typed));
    EXPECT_EQ(source->text(), "aZ5_");
    Type(source, Qt::Key_Backspace, "\b");
    EXPECT_EQ(source->text(), "aZ5");

    TkaEdit* port = page.UDPPortkaEdit;
    port->setText("40");
    Type(port, Qt::Key_7, "7");
    Type(port, Qt::Key_X, "x");
    Type(port, Qt::Key_Backspace, "\b");
    EXPECT_EQ(port->text(), "407");
    port->setCursorPosition(0);
    Type(port, Qt::Key_Delete, QString()); // keys that type nothing pass
    EXPECT_EQ(port->text(), "07");
}

// Pasting (Ctrl+V and the context menu), inserting (middle-click) and
// dropping all pass the edit's validator, not only its key filter.
TEST_F(BroadcastTest, PastedOrDroppedTextMustHoldOnlyTheAllowedCharacters) {
    TVideoFrame& page = CreateTestCameraPage();
    const auto drop = [](QWidget* edit, const QString& text) {
        QMimeData data;
        data.setText(text);
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &enter);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &drop);
    };
    TkaEdit* source = page.SourcekaEdit;
    source->setText("Cam");
    QApplication::clipboard()->setText("my cam-2");
    source->paste();
    source->insert("a.b");
    drop(source, "x y");
    EXPECT_EQ(source->text(), "Cam");
    QApplication::clipboard()->setText("Door_2");
    source->paste();
    drop(source, "X");
    EXPECT_EQ(source->text().size(), 10);
    EXPECT_TRUE(source->text().contains("Door_2"));

    TkaEdit* port = page.UDPPortkaEdit;
    port->setText("40");
    QApplication::clipboard()->setText("-1");
    port->paste();
    port->insert("3e");
    drop(port, " 5");
    EXPECT_EQ(port->text(), "40");
    port->end(false);
    port->insert("32");
    EXPECT_EQ(port->text(), "4032");
}

// Waits in the event loop the way a user's pause does, shorter than the
// action list's timer.
void IdleBriefly() {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST_F(BroadcastTest, AnEmptySourceCanNeverSwitchBroadcastingOn) {
    TVideoFrame& page = CreateTestCameraPage();
    page.ActionList1->UpdateActions();
    ASSERT_TRUE(page.BroadcastAction->isEnabled());
    // Cleared and switched on before any update pass ran.
    page.SourcekaEdit->clear();
    page.BroadcastAction->trigger();
    EXPECT_FALSE(page.BroadcastAction->isChecked());
    // The next time the event loop goes idle the action is disabled.
    IdleBriefly();
    EXPECT_FALSE(page.BroadcastAction->isEnabled());
    page.SourcekaEdit->setText("Door");
    IdleBriefly();
    EXPECT_TRUE(page.BroadcastAction->isEnabled());
}

TEST_F(BroadcastTest, AStoredOnWithAnEmptySourceDoesNotLockTheControls) {
    const int next = CreateTestCameraPage().objectName().mid(10).toInt() + 1;
    Page.reset();
    const QString name = QStringLiteral("VideoFrame%1").arg(next);
    CfgIniFile()->WriteBool("Boolean", name + ".BroadcastAction", true);
    CfgIniFile()->WriteString("String", name + ".SourcekaEdit", "");

    TVideoFrame& page = CreateTestCameraPage();
    ASSERT_EQ(page.objectName(), name);
    ASSERT_TRUE(page.SourcekaEdit->text().isEmpty());
    page.ActionList1->UpdateActions();
    EXPECT_FALSE(page.BroadcastAction->isChecked());
    EXPECT_TRUE(page.SourcekaEdit->isEnabled());
    EXPECT_TRUE(page.UDPPortkaEdit->isEnabled());
    page.ActionList1->UpdateActions();
    EXPECT_FALSE(CfgIniFile()->ReadBool("Boolean", name + ".BroadcastAction", true));
    // Nothing goes out under an empty name.
    page.PlayActionExecute();
    Tick();
    EXPECT_TRUE(Receive(100).isEmpty());
}

TEST_F(BroadcastTest, RestoredOnTakesTheRestoredPort) {
    // Settings of the page that will be created next.
    const int next = CreateTestCameraPage().objectName().mid(10).toInt() + 1;
    Page.reset();
    const QString name = QStringLiteral("VideoFrame%1").arg(next);
    CfgIniFile()->WriteBool("Boolean", name + ".BroadcastAction", true);
    CfgIniFile()->WriteString("String", name + ".UDPPortkaEdit",
                              QString::number(Receiver.localPort()));

    TVideoFrame& page = CreateTestCameraPage();
    ASSERT_EQ(page.objectName(), name);
    EXPECT_TRUE(page.BroadcastAction->isChecked());
    EXPECT_EQ(page.IdUDPClient->Port(), Receiver.localPort());
    page.PlayActionExecute();
    Tick();
    EXPECT_FALSE(Receive().isEmpty());
}
