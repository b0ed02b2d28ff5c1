#include "ProgramIcons.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

// Opaque pixels of Image within a small distance of Colour.
int PixelsNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            count += p.alpha() > 200 && std::abs(p.red() - colour.red()) < 24 &&
                     std::abs(p.green() - colour.green()) < 24 &&
                     std::abs(p.blue() - colour.blue()) < 24;
        }
    return count;
}

TEST(ProgramIconsTest, InstalledFilesDrawAndOneArcIsRecoloured) {
    for (const char* name : {"tarvik", "tarvikclient"}) {
        QFile installed(QStringLiteral(TARVIK_ICON_DIR "/") + name + ".svg");
        ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
        EXPECT_EQ(IconSource(name), installed.readAll()) << name;
        EXPECT_EQ(RenderSvg(IconSource(name), 32).pixelColor(0, 0).alpha(), 0) << name;
    }
    EXPECT_TRUE(RenderSvg("<svg", 16).isNull());

    const QByteArray source = IconSource("tarvikclient");
    const QColor red(230, 20, 20);
    EXPECT_EQ(PixelsNear(RenderSvg(source, 64), red), 0);
    const QByteArray arc1 = WithStroke(source, "arc1", red);
    const int redOne = PixelsNear(RenderSvg(arc1, 64), red);
    EXPECT_GT(redOne, 10);
    EXPECT_GT(PixelsNear(RenderSvg(WithStroke(arc1, "arc3", red), 64), red), redOne);
    EXPECT_EQ(WithStroke(source, "arc9", red), source);
    // A dimmed arc gets its opacity instead of a second stroke attribute.
    const QByteArray dim = WithStroke(source, "arc1", QColor(150, 160, 175, 140));
    EXPECT_TRUE(dim.contains(R"(d="M 17.422 11.394 A 7 7 0 0 0 24 16" stroke="#96a0af" )"
                             R"(stroke-opacity="0.549"/>)"))
        << dim.toStdString();
}

} // namespace
