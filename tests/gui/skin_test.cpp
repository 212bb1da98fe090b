// The generated skin: every image the settings name exists and loads, at the sizes the
// controls draw them; and the GIF writer behind the wait animation.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <random>

#include "config/settings.h"
#include "gui_test_support.h"
#include "skingen/gif_encoder.h"

namespace {

std::vector<std::string> AllPaths(const fd::SkinPaths& s) {
    std::vector<std::string> v = {s.mainBk,
                                  s.mainLeftBk,
                                  s.btnPie,
                                  s.btnPie2,
                                  s.waitSearch,
                                  s.menuSearchNormal,
                                  s.menuSearchDown,
                                  s.menuWirelessNormal,
                                  s.menuWirelessDown,
                                  s.menuDeviceNormal,
                                  s.menuDeviceDown,
                                  s.menuUserNormal,
                                  s.menuUserDown,
                                  s.menuAdStrategyNormal,
                                  s.menuAdStrategyDown,
                                  s.menuAdManagementNormal,
                                  s.menuAdManagementDown,
                                  s.menuActiveNormal,
                                  s.menuActiveDown,
                                  s.menuSystemNormal,
                                  s.menuSystemDown,
                                  s.btnSearch,
                                  s.btnDelete,
                                  s.btnExport,
                                  s.btnAdd,
                                  s.btnReboot,
                                  s.btnRestore,
                                  s.btnUpgrade,
                                  s.btnConfig,
                                  s.configBtn,
                                  s.btnUpdateNormal,
                                  s.btnUpdateDown,
                                  s.closeNormal,
                                  s.minNormal,
                                  s.helpNormal,
                                  s.closeConfig,
                                  s.closeWait,
                                  s.bridgeFinish,
                                  s.line,
                                  s.grayLine,
                                  s.orangeLine,
                                  s.btUrl,
                                  s.write,
                                  s.helpProduct,
                                  s.helpSupport,
                                  s.helpContact,
                                  s.helpHelp,
                                  s.wirelessBasic,
                                  s.wirelessConfig,
                                  s.wirelessEnable,
                                  s.wirelessDisable,
                                  s.web,
                                  s.bridge,
                                  s.installHelp};
    v.insert(v.end(), s.signalStrength.begin(), s.signalStrength.end());
    return v;
}

QSize SizeOf(const std::string& path) {
    return QImageReader(QString::fromStdString(path)).size();
}

TEST(Skin, EveryImageTheSettingsNameLoadsInBothLanguages) {
    const std::string base = fdtest::BinDir().toStdString() + "/";
    for (uint32_t locale : {1033u, 2052u}) {
        fd::SkinPaths paths;
        fd::BuildSkinPaths(base, locale, paths);
        for (const std::string& p : AllPaths(paths)) {
            QImageReader reader(QString::fromStdString(p));
            EXPECT_TRUE(reader.canRead()) << p;
            const QImage img = reader.read();
            EXPECT_FALSE(img.isNull()) << p;
        }
        EXPECT_EQ(SizeOf(paths.web), QSize(100, 16));  // two 50x16 images
        EXPECT_EQ(SizeOf(paths.bridge), QSize(100, 16));
        EXPECT_GT(SizeOf(paths.installHelp).height(), 694);  // taller than the page: it scrolls
    }
    fd::SkinPaths paths;
    fd::BuildSkinPaths(base, 1033, paths);
    for (const std::string& p : paths.signalStrength) EXPECT_EQ(SizeOf(p), QSize(30, 16)) << p;
    EXPECT_EQ(SizeOf(paths.mainBk), QSize(1260, 780));
    EXPECT_EQ(SizeOf(paths.closeNormal), QSize(90, 24));  // three 30x24 states
    QImageReader gif(QString::fromStdString(paths.waitSearch));
    EXPECT_EQ(gif.format(), "gif");
    EXPECT_GT(gif.imageCount(), 1);
}

std::vector<QImage> DecodeAll(const std::vector<uint8_t>& bytes,
                              std::vector<int>* delays = nullptr) {
    QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
    QBuffer buf(&data);
    buf.open(QIODevice::ReadOnly);
    QImageReader reader(&buf, "gif");
    std::vector<QImage> frames;
    for (;;) {
        QImage img = reader.read();
        if (img.isNull()) break;
        if (delays != nullptr) delays->push_back(reader.nextImageDelay());
        frames.push_back(img.convertToFormat(QImage::Format_RGB32));
    }
    return frames;
}

TEST(GifEncoder, NoisyFramesRoundTripThroughQtsReader) {
    // Random pixels over 256 colours fill the code table many times over, so the table
    // resets and the code width steps all happen.
    const int w = 97, h = 83;
    std::vector<fd::GifColor> palette;
    for (int i = 0; i < 256; ++i) {
        palette.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                           static_cast<uint8_t>((i * 7) & 0xff)});
    }
    std::mt19937 rng(12345);
    std::vector<fd::GifFrame> frames(3);
    for (size_t f = 0; f < frames.size(); ++f) {
        frames[f].indices.resize(static_cast<size_t>(w * h));
        for (auto& px : frames[f].indices) px = static_cast<uint8_t>(rng() % (f == 2 ? 3 : 256));
        frames[f].delayCs = 5 + static_cast<int>(f) * 10;
    }
    std::vector<int> delays;
    const std::vector<QImage> decoded = DecodeAll(fd::EncodeGif(w, h, palette, frames), &delays);
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(delays, (std::vector<int>{50, 150, 250}));
    for (size_t f = 0; f < 3; ++f) {
        ASSERT_EQ(decoded[f].size(), QSize(w, h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const fd::GifColor c = palette[frames[f].indices[static_cast<size_t>(y * w + x)]];
                ASSERT_EQ(decoded[f].pixel(x, y), qRgb(c.r, c.g, c.b))
                    << "frame " << f << " at " << x << "," << y;
            }
        }
    }
}

TEST(GifEncoder, SmallPalettesAndUniformImages) {
    const std::vector<fd::GifColor> two = {{0, 0, 0}, {255, 255, 255}};
    fd::GifFrame flat;
    flat.indices.assign(64 * 64, 1);  // long runs: the longest codes the table holds
    auto out = DecodeAll(fd::EncodeGif(64, 64, two, {flat}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].pixel(63, 63), qRgb(255, 255, 255));
    fd::GifFrame one;
    one.indices = {1};
    out = DecodeAll(fd::EncodeGif(1, 1, two, {one}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].pixel(0, 0), qRgb(255, 255, 255));
}

TEST(GifEncoder, InconsistentInputGivesNothing) {
    const std::vector<fd::GifColor> two = {{0, 0, 0}, {255, 255, 255}};
    fd::GifFrame bad;
    bad.indices = {0, 1, 2, 0};  // index 2 is outside the palette
    EXPECT_TRUE(fd::EncodeGif(2, 2, two, {bad}).empty());
    fd::GifFrame shortFrame;
    shortFrame.indices = {0, 1, 1};
    EXPECT_TRUE(fd::EncodeGif(2, 2, two, {shortFrame}).empty());
    EXPECT_TRUE(fd::EncodeGif(2, 2, two, {}).empty());
    EXPECT_TRUE(fd::EncodeGif(0, 2, two, {shortFrame}).empty());
    EXPECT_TRUE(fd::EncodeGif(2, 2, {}, {shortFrame}).empty());
}

}  // namespace
