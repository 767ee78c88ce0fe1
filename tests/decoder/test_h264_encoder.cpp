// The test device's encoder: what a viewer needs from its stream.
#include "encoder/c_h264_encoder.h"

#include "tools/decoder/c_video_decoder.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <set>
#include <vector>

namespace {

std::set<int> nal_types(const std::vector<uint8_t>& unit)
{
    std::set<int> types;
    for (const auto& n : c_h264_encoder::split_nal_units(unit.data(), unit.size()))
        types.insert(n[0] & 0x1f);
    return types;
}

QImage picture(int w, int h, int shade)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(shade, 255 - shade, 128));
    return img;
}

} // namespace

TEST(H264Encoder, KeyFramesCarryParameterSetsAndComeWhenAsked)
{
    c_h264_encoder enc;
    EXPECT_FALSE(enc.open(321, 240, 30)); // 4:2:0 needs even sizes
    c_h264_encoder::options opt;
    opt.keyframe_interval = 5;
    ASSERT_TRUE(enc.open(320, 240, 30, opt));

    std::vector<std::set<int>> kinds;
    for (int i = 0; i < 8; ++i) {
        if (i == 7)
            enc.request_keyframe();
        auto units = enc.encode(picture(320, 240, i * 20));
        ASSERT_EQ(units.size(), 1u) << "no delay expected, picture " << i;
        kinds.push_back(nal_types(units[0]));
    }
    const std::set<int> key = {5, 7, 8};
    for (int i : {0, 5, 7})
        for (int t : key)
            EXPECT_TRUE(kinds[size_t(i)].count(t)) << "picture " << i << " lacks NAL type " << t;
    for (int i : {1, 2, 3, 4, 6}) {
        EXPECT_FALSE(kinds[size_t(i)].count(5)) << "picture " << i;
        EXPECT_TRUE(kinds[size_t(i)].count(1)) << "picture " << i;
    }
    EXPECT_TRUE(enc.flush().empty());
}

TEST(H264Encoder, OtherSizesAndFormatsAreScaledToTheOpenSize)
{
    c_h264_encoder enc;
    ASSERT_TRUE(enc.open(160, 120, 25));
    QImage rgb888(640, 480, QImage::Format_RGB888);
    rgb888.fill(QColor(200, 20, 20));
    auto units = enc.encode(rgb888);
    ASSERT_EQ(units.size(), 1u);

    c_video_decoder dec;
    ASSERT_TRUE(dec.open());
    ASSERT_GT(dec.decode(units[0].data(), int(units[0].size())), 0);
    EXPECT_EQ(dec.picture_width(), 160);
    EXPECT_EQ(dec.picture_height(), 120);
    QImage out(160, 120, QImage::Format_RGB32);
    ASSERT_TRUE(dec.convert(out.bits(), int(out.bytesPerLine())));
    const QRgb c = out.pixel(80, 60);
    EXPECT_NEAR(qRed(c), 200, 6);
    EXPECT_NEAR(qGreen(c), 20, 6);
    EXPECT_NEAR(qBlue(c), 20, 6);

    // Raw BGRA rows of the open size, with a row stride wider than the picture.
    std::vector<uint8_t> bgra(size_t(200) * 4 * 120, 0);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            uint8_t* p = &bgra[size_t(y) * 800 + size_t(x) * 4];
            p[0] = 180; // blue
            p[1] = 90;
            p[2] = 10;
            p[3] = 255;
        }
    units = enc.encode_bgra(bgra.data(), 800);
    ASSERT_EQ(units.size(), 1u);
    ASSERT_GT(dec.decode(units[0].data(), int(units[0].size())), 0);
    ASSERT_TRUE(dec.convert(out.bits(), int(out.bytesPerLine())));
    const QRgb d = out.pixel(10, 10);
    EXPECT_NEAR(qRed(d), 10, 6);
    EXPECT_NEAR(qGreen(d), 90, 6);
    EXPECT_NEAR(qBlue(d), 180, 6);
}

TEST(H264Encoder, SplitsAnnexBStreams)
{
    const uint8_t stream[] = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 0, 1, 0x65, 4, 5, 0};
    auto nals = c_h264_encoder::split_nal_units(stream, sizeof stream);
    ASSERT_EQ(nals.size(), 3u);
    EXPECT_EQ(nals[0], (std::vector<uint8_t>{0x67, 1, 2}));
    EXPECT_EQ(nals[1], (std::vector<uint8_t>{0x68, 3}));
    EXPECT_EQ(nals[2], (std::vector<uint8_t>{0x65, 4, 5}));
    EXPECT_TRUE(c_h264_encoder::split_nal_units(stream + 4, 3).empty());
}
