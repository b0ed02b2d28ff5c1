#include "IdUDPClient.h"
#include "StmJPG.h"
#include "kaFramePipeline.h"
#include "kaPictureAnalyser.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QStringList>
#include <QUdpSocket>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

// The frame pipeline on its own, as the camera page drives it but without any
// widget: frames come as BGR24 bytes, events are recorded.
namespace {

// A frame in memory with its format.
struct TFrame {
    std::vector<std::uint8_t> Bytes;
    BITMAPINFO Info;
    VIDEOHDR Header;

    explicit TFrame(const QImage& picture) {
        const std::size_t row = std::size_t(picture.width()) * 3;
        Bytes.resize(row * std::size_t(picture.height()));
        for (int y = 0; y < picture.height(); ++y)
            std::memcpy(Bytes.data() + row * std::size_t(y), picture.constScanLine(y), row);
        Info.bmiHeader = {40,
                          picture.width(),
                          picture.height(),
                          1,
                          24,
                          BI_RGB,
                          std::uint32_t(Bytes.size()),
                          0,
                          0,
                          0,
                          0};
        Header.lpData = Bytes.data();
        Header.dwBufferLength = std::uint32_t(Bytes.size());
        Header.dwBytesUsed = std::uint32_t(Bytes.size());
    }
};

QImage Grey(QSize size, int value) {
    QImage picture(size, QImage::Format_BGR888);
    picture.fill(QColor(value, value, value));
    return picture;
}

// Fine detail, so that the JPEG quality shows in the size.
QImage Textured(QSize size, int lift = 0) {
    QImage picture(size, QImage::Format_BGR888);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int v = 40 + (x * 37 + y * 91) % 120 + lift;
            picture.setPixelColor(x, y, QColor(v, 200 - v + 2 * lift, (v * 3) % 120 + lift));
        }
    return picture;
}

// A grey picture whose left half is brighter: against the plain grey it
// raises half of the segments.
QImage LeftBright(QSize size) {
    QImage picture = Grey(size, 100);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width() / 2; ++x)
            picture.setPixelColor(x, y, QColor(160, 160, 160));
    return picture;
}

// Every byte value in every channel, in no pattern the encoder could favour.
QImage Noise(QSize size, unsigned seed) {
    QImage picture(size, QImage::Format_BGR888);
    std::mt19937 random(seed);
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = picture.scanLine(y);
        for (int k = 0; k < size.width() * 3; ++k)
            row[k] = uchar(random());
    }
    return picture;
}

class FramePipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        Analyser.SetxSegments(10);
        Analyser.SetySegments(10);
        Analyser.SetThresholdMaxSegment(0.04);
        Analyser.OnThresholdMaxSegment = [this](TkaPictureAnalyser* sender, double, bool& motion) {
            if (TkaFramePipeline::MotionRule(*sender, MotionSegments, motion))
                ++CountMove;
        };
        Pipeline.OnPictures = [this](TkaFramePipeline*) { Events << "pictures"; };
        Pipeline.OnMotion = [this](TkaFramePipeline*, bool motion) {
            Events << (motion ? "motion" : "still");
        };
        Pipeline.OnStore = [this](TkaFramePipeline*, const TJPEGImage& jpeg) {
            Events << "store";
            Stored.push_back(jpeg.JpegData());
        };
        Pipeline.OnCompressed = [this](TkaFramePipeline*) { Events << "compressed"; };
        Pipeline.OnBroadcastFailed = [this](TkaFramePipeline*) { Events << "broadcast failed"; };
    }

    bool Process(const QImage& picture, const TFrameSettings& settings = {}) {
        TFrame frame(picture);
        return Pipeline.ProcessFrame(frame.Header, frame.Info, settings);
    }

    TkaPictureAnalyser Analyser;
    TkaFramePipeline Pipeline{Analyser};
    int MotionSegments = 40;
    int CountMove = 0;
    QStringList Events;
    std::vector<QByteArray> Stored;
};

TEST_F(FramePipelineTest, MotionFramesAreCompressedAndStoredStillFramesAreNot) {
    const QSize size(80, 60);
    ASSERT_TRUE(Process(Textured(size), {90, false, {}}));
    // Against the analyser's empty start every segment rises: motion, counted.
    EXPECT_EQ(Events, QStringList({"pictures", "motion", "store", "compressed"}));
    EXPECT_EQ(CountMove, 1);
    ASSERT_EQ(Stored.size(), 1u);
    TJPEGImage decoded;
    decoded.LoadFromData(Stored[0]);
    EXPECT_EQ(QSize(decoded.Width(), decoded.Height()), size);
    Events.clear();
    ASSERT_TRUE(Process(Textured(size)));
    EXPECT_EQ(Events, QStringList({"pictures", "still"}));
    EXPECT_FALSE(Pipeline.Motion());
    EXPECT_EQ(Stored.size(), 1u);

    ASSERT_TRUE(Process(Textured(size, 50), {10, false, {}}));
    EXPECT_TRUE(Pipeline.Motion());
    EXPECT_EQ(CountMove, 2);
    ASSERT_EQ(Stored.size(), 2u);
    EXPECT_LT(Stored[1].size() * 2, Stored[0].size()) << "quality 10 against quality 90";

    // Darker everywhere, then still: neither is motion.
    ASSERT_TRUE(Process(Grey(size, 100)));
    ASSERT_TRUE(Process(Grey(size, 100)));
    EXPECT_EQ(Stored.size(), 2u);
    Stored.clear();
    CountMove = 0;

    // 50 of 100 segments rise: more than 40 make motion, counted once.
    Events.clear();
    ASSERT_TRUE(Process(LeftBright(size)));
    EXPECT_EQ(Events, QStringList({"pictures", "motion", "store", "compressed"}));
    EXPECT_EQ(CountMove, 1);
    ASSERT_EQ(Stored.size(), 1u);
    EXPECT_EQ(Pipeline.Jpeg().JpegData(), Stored[0]);

    // Back to grey: the bright half darkens, which is no motion, but its
    // segments still get their red outlines on the analysis picture.
    ASSERT_TRUE(Process(Grey(size, 100)));
    EXPECT_FALSE(Pipeline.Motion());
    EXPECT_EQ(Pipeline.AnalysisBitmap().pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(Pipeline.AnalysisBitmap().pixelColor(79, 0), QColor(100, 100, 100));
    EXPECT_EQ(Pipeline.DisplayBitmap().pixelColor(0, 0), QColor(100, 100, 100));

    // Exactly as many segments as the setting is not motion.
    MotionSegments = 50;
    ASSERT_TRUE(Process(LeftBright(size)));
    EXPECT_FALSE(Pipeline.Motion());
    EXPECT_EQ(CountMove, 1);
}

TEST_F(FramePipelineTest, BrokenFramesAreDroppedWithoutATrace) {
    ASSERT_TRUE(Process(Grey(QSize(40, 40), 100)));
    const QImage display = Pipeline.DisplayBitmap();
    Events.clear();

    TFrame shortFrame(Grey(QSize(40, 40), 200));
    shortFrame.Header.dwBytesUsed -= 1;
    EXPECT_FALSE(Pipeline.ProcessFrame(shortFrame.Header, shortFrame.Info, {}));
    TFrame empty(Grey(QSize(40, 40), 200));
    empty.Header.dwBytesUsed = 0;
    EXPECT_FALSE(Pipeline.ProcessFrame(empty.Header, empty.Info, {}));
    TFrame wrongDepth(Grey(QSize(40, 40), 200));
    wrongDepth.Info.bmiHeader.biBitCount = 16;
    EXPECT_FALSE(Pipeline.ProcessFrame(wrongDepth.Header, wrongDepth.Info, {}));

    EXPECT_TRUE(Events.isEmpty());
    EXPECT_EQ(Pipeline.DisplayBitmap(), display);
}

TEST_F(FramePipelineTest, TheMaskHidesOnlyWhatItCovers) {
    // A picture wider than the mask: the columns beyond it stay unmasked.
    const int width = TkaFramePipeline::MaskWidth + 16;
    QImage mask = Pipeline.MaskBitmap();
    for (int y = 0; y < 10; ++y)
        std::memset(mask.scanLine(y), 0, std::size_t(mask.width())); // black: hidden
    Pipeline.SetMaskBitmap(mask);
    Analyser.SetxSegments(2);
    Analyser.SetySegments(2);
    ASSERT_TRUE(Process(Grey(QSize(width, 20), 120)));

    const QImage& analysed = Pipeline.AnalysisBitmap();
    EXPECT_EQ(analysed.pixelColor(5, 5), QColor(0, 0, 0));
    EXPECT_EQ(analysed.pixelColor(width - 3, 5), QColor(120, 120, 120));
    EXPECT_EQ(analysed.pixelColor(5, 15), QColor(120, 120, 120));
    EXPECT_EQ(Pipeline.DisplayBitmap().pixelColor(5, 5), QColor(120, 120, 120));

    // A colour mask ANDs its bits: a pure-red mask keeps only the red channel.
    QImage picture = Grey(QSize(4, 4), 0xff);
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    ApplyMask(picture, red);
    EXPECT_EQ(picture.pixelColor(2, 2), QColor(255, 0, 0));
}

TEST_F(FramePipelineTest, MotionPicturesGoOutAsOneDatagramAndAFailureIsReported) {
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    TIdUDPClient sender;
    sender.SetPort(receiver.localPort());
    const QHostAddress previous = BroadcastAddress();
    SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
    Pipeline.SetSender(&sender);

    ASSERT_TRUE(Process(Grey(QSize(32, 32), 90), {50, true, "Door_1"}));
    ASSERT_TRUE(receiver.hasPendingDatagrams() || receiver.waitForReadyRead(2000));
    QByteArray datagram(qsizetype(receiver.pendingDatagramSize()), '\0');
    receiver.readDatagram(datagram.data(), datagram.size());
    QBuffer stream(&datagram);
    stream.open(QIODevice::ReadOnly);
    const std::unique_ptr<TStmObject> object = TStmObject::ReadStmObject(stream);
    const auto* picture = dynamic_cast<const TStmJPG*>(object.get());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Source(), "Door_1");
    EXPECT_EQ(picture->Image().JpegData(), Pipeline.Jpeg().JpegData());

    // Still frames send nothing; a refused send is reported, not raised.
    ASSERT_TRUE(Process(Grey(QSize(32, 32), 90), {50, true, "Door_1"}));
    EXPECT_FALSE(receiver.waitForReadyRead(100));
    SetBroadcastAddress(QHostAddress(QHostAddress::LocalHostIPv6)); // the socket is IPv4 only
    ASSERT_TRUE(Process(LeftBright(QSize(32, 32)), {50, true, "Door_1"}));
    EXPECT_TRUE(Pipeline.Motion());
    EXPECT_TRUE(Events.contains("broadcast failed"));
    SetBroadcastAddress(previous);
}

} // namespace

// The pictures are made only when asked for, yet each is that of the frame
// just processed: the stored bytes are those of the unmasked frame (also while
// the mask hides a part), the display picture is the frame, the analysis
// picture the masked frame, its screen copy the same in RGB32. Asked for
// after every frame or only after the last; a dropped frame changes nothing.
TEST_F(FramePipelineTest, PicturesMadeWhenAskedForAreThoseOfTheirFrame) {
    for (const bool masked : {false, true}) {
        for (const bool askEveryFrame : {false, true}) {
            SCOPED_TRACE(testing::Message() << "masked " << masked << ", every " << askEveryFrame);
            TkaPictureAnalyser analyser;
            // Every changed frame is motion, and no segment gets an outline.
            analyser.SetThresholdMaxSegment(1000);
            analyser.SetThresholdTotal(1);
            TkaFramePipeline pipeline(analyser);
            QImage mask = pipeline.MaskBitmap();
            for (int y = 5; masked && y < 20; ++y)
                std::memset(mask.scanLine(y) + 10, 0, 30);
            pipeline.SetMaskBitmap(mask);
            QByteArray stored;
            pipeline.OnStore = [&](TkaFramePipeline*, const TJPEGImage& jpeg) {
                stored = jpeg.JpegData();
            };
            const auto check = [&](const QImage& picture) {
                QImage analysed = picture;
                ApplyMask(analysed, mask);
                EXPECT_EQ(analysed.pixelColor(20, 10) == QColor(Qt::black), masked);
                EXPECT_EQ(pipeline.DisplayBitmap(), picture.convertToFormat(QImage::Format_RGB32));
                EXPECT_EQ(pipeline.AnalysisBitmap(), analysed);
                EXPECT_EQ(pipeline.AnalysisScreenBitmap(),
                          analysed.convertToFormat(QImage::Format_RGB32));
            };
            QImage picture;
            for (unsigned seed = 1; seed <= 3; ++seed) {
                picture = Noise(QSize(97, 61), seed);
                TFrame frame(picture);
                ASSERT_TRUE(pipeline.ProcessFrame(frame.Header, frame.Info, {75, false, {}}));
                TJPEGImage direct;
                direct.Assign(picture);
                direct.SetQuality(75);
                EXPECT_EQ(stored, direct.JpegData()) << "frame " << seed;
                if (askEveryFrame)
                    check(picture);
            }
            TFrame broken(Noise(QSize(97, 61), 9));
            broken.Header.dwBytesUsed -= 3;
            EXPECT_FALSE(pipeline.ProcessFrame(broken.Header, broken.Info, {}));
            check(picture);
        }
    }
}

// Recorded pictures must not change with how the pipeline holds its pictures:
// the stored bytes equal those compressed from the captured frame itself,
// and those recorded before the display picture was kept in the screen's
// format (SHA-1 of the stored file, libjpeg-turbo 2.1.5 with or without SIMD).
TEST_F(FramePipelineTest, StoredPictureBytesAreThoseOfTheCapturedFrame) {
    struct TCase {
        QSize Size;
        int Quality;
        const char* Sha1;
    };
    const TCase cases[] = {
        {{97, 61}, 50, "762caf5ec6bf2d7312ff36e6a46f72bf549f5de5"},
        {{320, 240}, 90, "acab5565df13178dfe27070c7ab476442f134395"},
        {{640, 480}, 50, "1dfbe448aa4186b921becec3acdf0a55598004b4"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.Size.width() << "x" << c.Size.height() << " q" << c.Quality);
        const QImage picture = Noise(c.Size, unsigned(c.Size.width()));
        TkaPictureAnalyser analyser;
        TkaFramePipeline pipeline(analyser);
        QByteArray stored;
        pipeline.OnStore = [&stored](TkaFramePipeline*, const TJPEGImage& jpeg) {
            stored = jpeg.JpegData();
        };
        TFrame frame(picture);
        // The first frame is always a motion frame.
        ASSERT_TRUE(pipeline.ProcessFrame(frame.Header, frame.Info, {c.Quality, false, {}}));
        ASSERT_FALSE(stored.isEmpty());
        TJPEGImage direct;
        direct.Assign(picture);
        direct.SetQuality(c.Quality);
        EXPECT_EQ(stored, direct.JpegData());
        EXPECT_EQ(QCryptographicHash::hash(stored, QCryptographicHash::Sha1).toHex().toStdString(),
                  std::string(c.Sha1));
    }
}
