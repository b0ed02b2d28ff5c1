#include "ClientTestSupport.h"

#include "ClientPaintBox.h"
#include "StmJPG.h"
#include "TIniFile.h"
#include "TJPEGImage.h"
#include "frSetup.h"
#include "kaComboBox.h"
#include "kaGeneral.h"

#include <QBuffer>
#include <QComboBox>
#include <QDataStream>
#include <QPainter>
#include <QUdpSocket>

QByteArray PictureDatagram(const QString& source, const QByteArray& jpeg, double time) {
    // Built by hand after the wire format, little-endian, so that the
    // receiver is tested against the format rather than against the sender.
    QByteArray datagram;
    QDataStream out(&datagram, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::DoublePrecision);
    const QByteArray name = source.toUtf8();
    out << qint32(3) << time << qint32(name.size());
    out.writeRawData(name.constData(), int(name.size()));
    out << qint32(jpeg.size());
    out.writeRawData(jpeg.constData(), int(jpeg.size()));
    return datagram;
}

QByteArray TestJpeg(int width, int height, int shade) {
    QImage picture(width, height, QImage::Format_RGB888);
    picture.fill(QColor(shade % 256, 255 - shade % 256, (shade * 7) % 256));
    TJPEGImage image;
    image.Assign(picture);
    image.SetQuality(50);
    image.Compress();
    return image.JpegData();
}

int FreeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress);
    return probe.localPort();
}

void ClientFormTest::SetUp() {
    TempProgramDir::SetUp();
    SavedLocale = QLocale();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Port = FreeUdpPort();
    ASSERT_GT(Port, 0);
    TIniFile ini(ConfigFileName());
    ini.WriteString(QStringLiteral("String"), QStringLiteral("SetupForm.SetupFrame1.UDPPortkaEdit"),
                    QString::number(Port));
}

void ClientFormTest::TearDown() {
    Form.reset();
    QLocale::setDefault(SavedLocale);
    TempProgramDir::TearDown();
}

TTarvikClientForm& ClientFormTest::CreateForm(bool show) {
    Form.reset(CreateLoaded<TTarvikClientForm>());
    Form->SetSoundPlayer(std::make_unique<RecordingSoundPlayer>(Played));
    Form->ShowModal = [](QDialog&) {};
    if (show)
        Form->show();
    return *Form;
}

void ClientFormTest::Receive(const QString& source, const QByteArray& jpeg, double time) {
    ReceiveBytes(PictureDatagram(source, jpeg, time));
}

void ClientFormTest::ReceiveBytes(const QByteArray& datagram) {
    QByteArray copy = datagram;
    QBuffer stream(&copy);
    stream.open(QIODevice::ReadOnly);
    Form->IdUDPServerUDPRead(nullptr, stream);
}

QImage ClientFormTest::Paint() {
    return Form->PaintBox->grab().toImage();
}

TSetupFrame& ClientFormTest::Frame() {
    return *Form->SetupFrame1();
}

QStringList ClientFormTest::CameraNames() const {
    QStringList names;
    for (int i = 0; i < Form->CamkaComboBox->count(); ++i)
        names.append(Form->CamkaComboBox->itemText(i));
    return names;
}
