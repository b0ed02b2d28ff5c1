#include "StmObjects.h"

#include "kaGeneral.h"

#include <QBuffer>
#include <QImage>
#include <QtEndian>
#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

QByteArray TinyJpeg(int quality = 50) {
    QImage bitmap(16, 8, QImage::Format_BGR888);
    bitmap.fill(Qt::darkCyan);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(quality);
    jpeg.Compress();
    return jpeg.JpegData();
}

TJPEGImage LoadedJpeg(const QByteArray& data) {
    TJPEGImage jpeg;
    jpeg.LoadFromData(data);
    return jpeg;
}

QByteArray Saved(const TStmObject& object) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    object.SaveToStream(buffer);
    return buffer.data();
}

std::unique_ptr<TStmObject> Read(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return TStmObject::ReadStmObject(buffer);
}

QByteArray Int32Le(qint32 value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

// Runs Action and expects it to raise E with exactly Message.
template <class E, class F> void ExpectError(F action, const QString& message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << message.toStdString();
    } catch (const E& e) {
        EXPECT_EQ(e.message(), message);
    }
}

// Sets the clock for one test and restores the real one.
struct FixedClock {
    explicit FixedClock(double time) {
        SetClock([time] { return time; });
    }
    ~FixedClock() { SetClock({}); }
};

// A class of the tests' own, to see the registry rebuild an object it did not know before.
class TStmProbe : public TStmObject {
public:
    static constexpr qint32 ClassSignature = 1000;
    qint32 GetSignature() const override { return ClassSignature; }
    std::unique_ptr<TStmObject> Create() const override { return std::make_unique<TStmProbe>(); }
    void Assign(const TStmObject&) override {}
    void LoadFromStream(QIODevice& device) override { Value = ReadStmInt32(device); }
    qint32 Value = 0;
};

class TStmDirDerived : public TStmDir {};

TEST(StmObjectsTest, WorkedExampleByteForByte) {
    const QByteArray jpeg = TinyJpeg();
    const FixedClock clock(1.5);
    const TStmJPG object(QStringLiteral("MyCam"), LoadedJpeg(jpeg));
    EXPECT_EQ(object.Time(), 1.5);

    const QByteArray expected = Hex("03000000"
                                    "000000000000F83F"
                                    "05000000"
                                    "4D7943616D") +
                                Int32Le(qint32(jpeg.size())) + jpeg;
    const QByteArray bytes = Saved(object);
    EXPECT_EQ(bytes.size(), 20 + 5 + jpeg.size());
    EXPECT_EQ(bytes.toHex().toStdString(), expected.toHex().toStdString());
}

TEST(StmObjectsTest, ConstructorTakesCompressedBytesUnchangedAndKeepsNoBitmap) {
    QImage bitmap(32, 16, QImage::Format_BGR888);
    bitmap.fill(Qt::yellow);
    TJPEGImage source;
    source.Assign(bitmap);
    source.SetQuality(20);
    source.Compress();

    const TStmJPG object(QStringLiteral("Cam"), source);
    EXPECT_EQ(object.Image().JpegData(), source.JpegData());
    EXPECT_FALSE(object.Image().HasBitmap());
    EXPECT_TRUE(source.HasBitmap()) << "the caller's image is not touched";
}

TEST(StmObjectsTest, RoundTripKeepsTimeBitsSourceAndJpegBytes) {
    const QByteArray jpeg = TinyJpeg(90);
    const double times[] = {45678.123456789, -0.0, std::numeric_limits<double>::denorm_min(),
                            std::bit_cast<double>(quint64(0x7FF8'0000'DEAD'BEEF))};
    for (const double time : times) {
        TStmJPG object(QStringLiteral("Kamera Süd – 東"), LoadedJpeg(jpeg));
        object.SetTime(time);
        QBuffer buffer;
        buffer.setData(Saved(object));
        buffer.open(QIODevice::ReadOnly);
        const std::unique_ptr<TStmObject> read = TStmObject::ReadStmObject(buffer);
        EXPECT_TRUE(buffer.atEnd()) << "nothing follows the last field";

        const auto* jpg = dynamic_cast<const TStmJPG*>(read.get());
        ASSERT_NE(jpg, nullptr);
        EXPECT_EQ(std::bit_cast<quint64>(jpg->Time()), std::bit_cast<quint64>(time));
        EXPECT_EQ(jpg->Source(), object.Source());
        EXPECT_EQ(jpg->Image().JpegData(), jpeg);
    }
}

TEST(StmObjectsTest, EmptySourceWritesZeroCountAndReadsBackEmpty) {
    const QByteArray jpeg = TinyJpeg();
    TStmJPG object(QString(), LoadedJpeg(jpeg));
    const QByteArray bytes = Saved(object);
    ASSERT_EQ(bytes.size(), 20 + jpeg.size());
    EXPECT_EQ(bytes.mid(12, 8), Int32Le(0) + Int32Le(qint32(jpeg.size())));

    const auto read = Read(bytes);
    EXPECT_TRUE(static_cast<const TStmJPG&>(*read).Source().isEmpty());
}

TEST(StmObjectsTest, ObjectsBackToBackAreReadOneAtATime) {
    TStmRegister first;
    first.SetValue2(7);
    TStmJPG second(QStringLiteral("B"), LoadedJpeg(TinyJpeg()));
    QBuffer buffer;
    buffer.setData(Saved(first) + Saved(second) + QByteArray("tail"));
    buffer.open(QIODevice::ReadOnly);

    EXPECT_EQ(TStmObject::ReadStmObject(buffer)->GetSignature(), TStmRegister::ClassSignature);
    EXPECT_EQ(TStmObject::ReadStmObject(buffer)->GetSignature(), TStmJPG::ClassSignature);
    EXPECT_EQ(buffer.readAll(), QByteArray("tail"));
}

TEST(StmObjectsTest, UnknownSignaturesFailAfterConsumingFourBytes) {
    for (const qint32 signature : {1, 4, -1, std::numeric_limits<qint32>::min()}) {
        QBuffer buffer;
        buffer.setData(Int32Le(signature) + Hex("0000000000000000"));
        buffer.open(QIODevice::ReadOnly);
        ExpectError<EStmError>([&] { TStmObject::ReadStmObject(buffer); },
                               QStringLiteral("Unknown StmObject"));
        EXPECT_EQ(buffer.pos(), 4);
    }
}

TEST(StmObjectsTest, TruncationAtEveryOffsetFailsWithReadError) {
    TStmDir dir;
    dir.SetName(QStringLiteral("dir"));
    TStmRegister reg;
    const QByteArray datagrams[] = {Saved(TStmJPG(QStringLiteral("MyCam"), LoadedJpeg(TinyJpeg()))),
                                    Saved(dir), Saved(reg)};
    for (const QByteArray& whole : datagrams) {
        ASSERT_NO_THROW(Read(whole));
        for (qsizetype length = 0; length < whole.size(); ++length)
            EXPECT_THROW(Read(whole.left(length)), EStmReadError) << "length " << length;
    }
}

TEST(StmObjectsTest, NegativeAndOversizedCountsFailBeforeAllocating) {
    const QByteArray jpeg = TinyJpeg();
    const QByteArray head = Int32Le(3) + Hex("000000000000F83F");
    const qint32 counts[] = {-1, std::numeric_limits<qint32>::min(),
                             std::numeric_limits<qint32>::max()};
    for (const qint32 count : counts) {
        // Source count, then the picture count.
        EXPECT_THROW(Read(head + Int32Le(count) + Int32Le(0)), EStmReadError);
        EXPECT_THROW(Read(head + Int32Le(0) + Int32Le(count) + jpeg), EStmReadError);
    }
    // The count is refused before any byte behind it is taken.
    QBuffer buffer;
    buffer.setData(head + Int32Le(std::numeric_limits<qint32>::max()) + "abcd");
    buffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(TStmObject::ReadStmObject(buffer), EStmReadError);
    EXPECT_EQ(buffer.pos(), 16);
    // One byte more than is left.
    EXPECT_THROW(Read(head + Int32Le(2) + "a"), EStmReadError);
    EXPECT_THROW(Read(head + Int32Le(0) + Int32Le(qint32(jpeg.size() + 1)) + jpeg), EStmReadError);
}

TEST(StmObjectsTest, NonJpegPictureFailsAndInvalidUtf8SourceDoesNot) {
    const QByteArray head = Int32Le(3) + Hex("000000000000F83F");
    EXPECT_THROW(Read(head + Int32Le(0) + Int32Le(4) + "abcd"), EJPEG);

    const QByteArray jpeg = TinyJpeg();
    const auto read =
        Read(head + Int32Le(3) + "\xFF\xFE\xC3" + Int32Le(qint32(jpeg.size())) + jpeg);
    const QString source = static_cast<const TStmJPG&>(*read).Source();
    EXPECT_FALSE(source.isEmpty());
    EXPECT_TRUE(source.contains(QChar::ReplacementCharacter));
}

TEST(StmObjectsTest, FailedLoadLeavesObjectUnchanged) {
    const QByteArray jpeg = TinyJpeg();
    TStmJPG object(QStringLiteral("Old"), LoadedJpeg(jpeg));
    object.SetTime(2.0);
    const QByteArray other = Saved(TStmJPG(QStringLiteral("New"), LoadedJpeg(TinyJpeg(10))));
    QBuffer buffer;
    buffer.setData(other.mid(4, other.size() - 5));
    buffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(object.LoadFromStream(buffer), EStmReadError);
    EXPECT_EQ(object.Source(), QStringLiteral("Old"));
    EXPECT_EQ(object.Time(), 2.0);
    EXPECT_EQ(object.Image().JpegData(), jpeg);
}

TEST(StmObjectsTest, WritingToAReadOnlyStreamFails) {
    QByteArray storage;
    QBuffer buffer(&storage);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(TStmRegister().SaveToStream(buffer), EStmWriteError);
}

TEST(StmObjectsTest, DirAndRegisterLayouts) {
    TStmDir dir;
    dir.SetValue(0x1122'3344'5566'7788);
    dir.SetName(QStringLiteral("ab"));
    const QByteArray dirBytes = Saved(dir);
    EXPECT_EQ(dirBytes.toHex(), QByteArray("00000000"
                                           "8877665544332211"
                                           "02000000"
                                           "6162"));
    const auto dirRead = Read(dirBytes);
    const auto& readDir = dynamic_cast<const TStmDir&>(*dirRead);
    EXPECT_EQ(readDir.Value(), dir.Value());
    EXPECT_EQ(readDir.Name(), dir.Name());

    TStmRegister reg;
    reg.SetValue1(-1);
    reg.SetValue2(0x01020304);
    reg.SetValue3(std::numeric_limits<qint32>::min());
    reg.SetValue4(0x0A0B'0C0D'0E0F'1011);
    const QByteArray regBytes = Saved(reg);
    EXPECT_EQ(regBytes.toHex(), QByteArray("02000000"
                                           "ffffffff"
                                           "04030201"
                                           "00000080"
                                           "11100f0e0d0c0b0a"));
    const auto regRead = Read(regBytes);
    const auto& readReg = dynamic_cast<const TStmRegister&>(*regRead);
    EXPECT_EQ(readReg.Value1(), -1);
    EXPECT_EQ(readReg.Value2(), 0x01020304);
    EXPECT_EQ(readReg.Value3(), std::numeric_limits<qint32>::min());
    EXPECT_EQ(readReg.Value4(), reg.Value4());
}

TEST(StmObjectsTest, RegistryHoldsTheThreeClassesAndRejectsClashes) {
    auto signatures = [] {
        QList<qint32> list;
        for (const TStmClass& c : TStmObject::StmClasses())
            if (c.Signature != TStmProbe::ClassSignature)
                list << c.Signature;
        return list;
    };
    const QList<qint32> expected{0, 2, 3};
    EXPECT_EQ(signatures(), expected);
    for (const TStmClass& c : TStmObject::StmClasses())
        EXPECT_EQ(c.Create()->GetSignature(), c.Signature) << c.Name.toStdString();

    TStmObject::RegisterStmClass(TStmJPG::StmClass());
    RegisterStmClasses();
    EXPECT_EQ(signatures(), expected);

    TStmClass impostor = TStmDir::StmClass();
    impostor.Signature = 3;
    ExpectError<EStmError>([&] { TStmObject::RegisterStmClass(impostor); },
                           QStringLiteral("Signatur already exists: 3"));
    impostor = TStmJPG::StmClass();
    impostor.Signature = 77;
    ExpectError<EStmError>([&] { TStmObject::RegisterStmClass(impostor); },
                           QStringLiteral("StmClass already exists: TStmJPG"));
    EXPECT_EQ(signatures(), expected);
}

TEST(StmObjectsTest, NewlyRegisteredClassIsRebuiltFromBytes) {
    TStmObject::RegisterStmClass(StmClassOf<TStmProbe>("TStmProbe"));
    const auto read = Read(Int32Le(TStmProbe::ClassSignature) + Int32Le(-42));
    ASSERT_NE(dynamic_cast<const TStmProbe*>(read.get()), nullptr);
    EXPECT_EQ(static_cast<const TStmProbe&>(*read).Value, -42);
}

TEST(StmObjectsTest, AssignRules) {
    TStmJPG jpg;
    ExpectError<EStmError>([&] { jpg.Assign(TStmJPG()); }, QStringLiteral("not implemented yet"));
    TStmRegister reg;
    ExpectError<EStmError>([&] { reg.Assign(TStmRegister()); }, QStringLiteral("Not implemented"));

    TStmDirDerived source;
    source.SetValue(0xFFFF'0000'1234'5678);
    source.SetName(QStringLiteral("name"));
    TStmDir dir;
    dir.Assign(source);
    EXPECT_EQ(dir.Value(), source.Value());
    EXPECT_EQ(dir.Name(), source.Name());

    ExpectError<EStmError>([&] { dir.Assign(reg); }, TStmObject::AbstractMessage);
    EXPECT_EQ(dir.Name(), source.Name()) << "a failed copy changes nothing";
}

} // namespace
