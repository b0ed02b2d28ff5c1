#include "ProgramIcons.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

// Pixels of Image within a small distance of Colour and mostly opaque.
int PixelsNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && std::abs(pixel.red() - colour.red()) < 24 &&
                std::abs(pixel.green() - colour.green()) < 24 &&
                std::abs(pixel.blue() - colour.blue()) < 24)
                ++count;
        }
    }
    return count;
}

TEST(ProgramIconsTest, CompiledInIconsAreTheInstalledFilesAndDraw) {
    for (const char* name : {"tarvik", "tarvikclient"}) {
        SCOPED_TRACE(name);
        const QByteArray source = IconSource(name);
        ASSERT_FALSE(source.isEmpty());
        QFile installed(QStringLiteral(TARVIK_ICON_DIR "/") + name + ".svg");
        ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
        EXPECT_EQ(source, installed.readAll());
        const QImage image = RenderSvg(source, 32);
        ASSERT_EQ(image.size(), QSize(32, 32));
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0); // transparent corner
        EXPECT_GT(PixelsNear(image, QColor(0x46, 0x5a, 0x78)) +
                      PixelsNear(image, QColor(0x40, 0x5c, 0x84)),
                  50); // the camera's body
        EXPECT_FALSE(ProgramIcon(name).pixmap(16, 16).isNull());
    }
    EXPECT_TRUE(IconSource("none").isEmpty());
    EXPECT_TRUE(RenderSvg("<svg", 16).isNull());
}

TEST(ProgramIconsTest, WithStrokeRecoloursOneElementOnly) {
    const QByteArray source = IconSource("tarvikclient");
    const QColor red(230, 20, 20);
    const QByteArray arc1 = WithStroke(source, "arc1", red);
    EXPECT_EQ(PixelsNear(RenderSvg(source, 64), red), 0);
    const int redOne = PixelsNear(RenderSvg(arc1, 64), red);
    EXPECT_GT(redOne, 10);
    const QByteArray all = WithStroke(WithStroke(arc1, "arc2", red), "arc3", red);
    EXPECT_GT(PixelsNear(RenderSvg(all, 64), red), redOne);
    // The other arcs keep their green.
    EXPECT_TRUE(arc1.contains(R"(id="arc2" stroke="#3cc85a")"));
    EXPECT_EQ(WithStroke(source, "arc9", red), source);
    // A dimmed arc gets its opacity; no stroke attribute is doubled.
    const QByteArray dim = WithStroke(source, "arc1", QColor(150, 160, 175, 140));
    const qsizetype tag = dim.indexOf(R"(id="arc1")");
    const QByteArray element = dim.mid(tag, dim.indexOf('>', tag) - tag);
    EXPECT_EQ(element.count("stroke=\""), 1) << element.toStdString();
    EXPECT_TRUE(element.contains(R"(stroke-opacity="0.549")")) << element.toStdString();
}

} // namespace
