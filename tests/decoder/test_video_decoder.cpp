// The decoding pipeline on a real H.264 stream made here with libx264: its
// pictures against FFmpeg's own decode of the same stream, fragments,
// parameter-set-only units, dropped units, and the hand-over to the GUI.
#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_video_decoder.h"
#include "tools/decoder/c_video_pipeline.h"

#include "common/log_capture.h"
#include "encoder/c_h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using unit = std::vector<uint8_t>;

constexpr int k_w = 320;
constexpr int k_h = 240;
constexpr int k_count = 12;

// Colour bars with a square that moves from picture to picture.
QImage source_picture(int w, int h, int index)
{
    QImage img(w, h, QImage::Format_RGB32);
    const QColor bars[4] = {QColor(220, 30, 30), QColor(30, 200, 40), QColor(40, 50, 210), QColor(240, 240, 240)};
    QPainter p(&img);
    for (int i = 0; i < 4; ++i)
        p.fillRect(i * w / 4, 0, w / 4 + 1, h, bars[i]);
    p.fillRect(10 + index * 16, h / 2 - 20, 40, 40, QColor(250, 220, 0));
    p.end();
    return img;
}

std::vector<unit> encode_stream(int w, int h, int count, int keyframe_interval = 0, int slices = 1)
{
    c_h264_encoder enc;
    c_h264_encoder::options opt;
    opt.keyframe_interval = keyframe_interval;
    opt.threads = slices; // sliced threads: one slice each
    opt.crf = 18;
    EXPECT_TRUE(enc.open(w, h, 30, opt));
    std::vector<unit> units;
    for (int i = 0; i < count; ++i) {
        auto out = enc.encode(source_picture(w, h, i));
        EXPECT_EQ(out.size(), 1u) << "picture " << i;
        for (auto& u : out)
            units.push_back(std::move(u));
    }
    return units;
}

// FFmpeg decoding the whole stream on its own, converted to BGRA the usual way.
std::vector<QImage> reference_decode(const std::vector<unit>& units)
{
    std::vector<QImage> out;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            // One spare row: the converter writes past the end of the last
            // row when the width is not a multiple of 16.
            QImage img(frame->width, frame->height + 1, QImage::Format_RGB32);
            SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                             frame->height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr,
                                             nullptr);
            uint8_t* dst[4] = {img.bits(), nullptr, nullptr, nullptr};
            int stride[4] = {int(img.bytesPerLine()), 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
            sws_freeContext(sws);
            out.push_back(img.copy(0, 0, frame->width, frame->height));
        }
    };
    for (const unit& u : units) {
        av_new_packet(pkt, int(u.size()));
        std::memcpy(pkt->data, u.data(), u.size());
        EXPECT_EQ(avcodec_send_packet(ctx, pkt), 0);
        av_packet_unref(pkt);
        drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return out;
}

std::vector<uint8_t> body(uint8_t flag, const uint8_t* payload, size_t n)
{
    std::vector<uint8_t> b(12 + n);
    b[0] = 6;
    b[1] = flag;
    b[8] = uint8_t(n >> 24);
    b[9] = uint8_t(n >> 16);
    b[10] = uint8_t(n >> 8);
    b[11] = uint8_t(n);
    if (n)
        std::memcpy(b.data() + 12, payload, n);
    return b;
}

bool feed(c_video_pipeline& pl, uint8_t flag, const unit& payload)
{
    auto b = body(flag, payload.data(), payload.size());
    return pl.on_video_data(b.data(), int(b.size()));
}

bool same_pixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    return true;
}

// Average difference per colour channel between two pictures.
double mean_difference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

bool near_rgb(QRgb a, QRgb b, int tol)
{
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol;
}

// Peak resident set of this process in MiB since start or the last reset.
double peak_rss_mib()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 1e9;
}

// count pictures of w x h encoded by a child process, read back through a
// pipe as (length, bytes) records.
std::vector<unit> units_from_child(int w, int h, int count)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        c_h264_encoder enc;
        if (!enc.open(w, h, 30))
            _exit(2);
        QImage img(w, h, QImage::Format_RGB32);
        for (int i = 0; i < count; ++i) {
            img.fill(QColor(20 * i, 90, 160));
            for (const unit& u : enc.encode(img)) {
                const uint32_t n = uint32_t(u.size());
                if (write(fds[1], &n, 4) != 4 || write(fds[1], u.data(), n) != ssize_t(n))
                    _exit(3);
            }
        }
        _exit(0);
    }
    close(fds[1]);
    std::vector<unit> out;
    FILE* in = fdopen(fds[0], "rb");
    uint32_t n = 0;
    while (in && std::fread(&n, 4, 1, in) == 1) {
        unit u(n);
        if (std::fread(u.data(), 1, n, in) != n)
            break;
        out.push_back(std::move(u));
    }
    if (in)
        std::fclose(in);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return out;
}

class VideoDecoder : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_units = new std::vector<unit>(encode_stream(k_w, k_h, k_count));
        s_reference = new std::vector<QImage>(reference_decode(*s_units));
    }
    static void TearDownTestSuite()
    {
        delete s_units;
        delete s_reference;
    }
    const std::vector<unit>& units() { return *s_units; }
    const std::vector<QImage>& reference() { return *s_reference; }

    static std::vector<unit>* s_units;
    static std::vector<QImage>* s_reference;
};

std::vector<unit>* VideoDecoder::s_units = nullptr;
std::vector<QImage>* VideoDecoder::s_reference = nullptr;

} // namespace

TEST_F(VideoDecoder, PicturesMatchFfmpegsOwnDecode)
{
    ASSERT_EQ(reference().size(), size_t(k_count));
    c_video_pipeline pl;
    ASSERT_TRUE(pl.is_open());
    EXPECT_EQ(pl.decoded_size(), QSize(0, 0));
    for (int i = 0; i < k_count; ++i) {
        EXPECT_TRUE(feed(pl, 1, units()[size_t(i)])) << "picture " << i;
        QImage pic = pl.take_picture();
        ASSERT_FALSE(pic.isNull()) << "picture " << i;
        EXPECT_EQ(pic.format(), QImage::Format_RGB32);
        EXPECT_EQ(pic.bytesPerLine(), k_w * 4);
        EXPECT_TRUE(same_pixels(pic, reference()[size_t(i)])) << "picture " << i;
        // The colours are where the source had them (channel order, range).
        EXPECT_LT(mean_difference(pic, source_picture(k_w, k_h, i)), 4.0) << "picture " << i;
        EXPECT_TRUE(pl.take_picture().isNull());
    }
    EXPECT_EQ(pl.decoded_size(), QSize(k_w, k_h));
    EXPECT_EQ(pl.pictures_published(), uint64_t(k_count));
}

TEST_F(VideoDecoder, FragmentsDecodeOnceAndFlagTwoMeansMoreFollow)
{
    c_video_pipeline pl;
    for (int i = 0; i < 4; ++i) {
        const unit& u = units()[size_t(i)];
        const size_t a = u.size() / 3, b = 2 * u.size() / 3;
        const uint8_t first_flag = i % 2 ? 2 : 0; // 0,0,1 and 2,2,1
        unit p1(u.begin(), u.begin() + long(a)), p2(u.begin() + long(a), u.begin() + long(b)),
            p3(u.begin() + long(b), u.end());
        const uint64_t before = pl.pictures_published();
        EXPECT_FALSE(feed(pl, first_flag, p1));
        EXPECT_FALSE(feed(pl, first_flag, p2));
        EXPECT_EQ(pl.pictures_published(), before) << "decoded before the last fragment";
        EXPECT_TRUE(feed(pl, 1, p3));
        EXPECT_EQ(pl.pictures_published(), before + 1);
        EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[size_t(i)])) << "picture " << i;
    }
}

TEST_F(VideoDecoder, ParameterSetsAloneEmitNothing)
{
    // Split the key frame's unit into its parameter sets and the rest.
    auto nals = c_h264_encoder::split_nal_units(units()[0].data(), units()[0].size());
    unit params, picture;
    for (const auto& n : nals) {
        unit& dst = ((n[0] & 0x1f) == 7 || (n[0] & 0x1f) == 8) ? params : picture;
        dst.insert(dst.end(), {0, 0, 0, 1});
        dst.insert(dst.end(), n.begin(), n.end());
    }
    ASSERT_FALSE(params.empty());
    ASSERT_FALSE(picture.empty());

    c_video_pipeline pl;
    EXPECT_FALSE(feed(pl, 1, params));
    EXPECT_TRUE(pl.take_picture().isNull());
    EXPECT_EQ(pl.pictures_published(), 0u);
    EXPECT_EQ(pl.decoded_size(), QSize(0, 0));

    EXPECT_TRUE(feed(pl, 1, picture));
    EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[0]));
}

TEST_F(VideoDecoder, OversizedAndCorruptUnitsAreDroppedAndTheNextPictureShows)
{
    LogCapture log;
    c_video_pipeline pl;
    ASSERT_TRUE(feed(pl, 1, units()[0]));
    EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[0]));

    // Over 524288 bytes in four fragments: the unit is dropped whole.
    unit junk(200000, 0x5A);
    EXPECT_FALSE(feed(pl, 0, junk));
    EXPECT_FALSE(feed(pl, 0, junk));
    EXPECT_FALSE(feed(pl, 0, junk));
    EXPECT_FALSE(feed(pl, 1, junk));
    EXPECT_TRUE(log.contains("video access unit over 524288 bytes dropped"));
    EXPECT_EQ(pl.assembler().filled(), 0);
    EXPECT_TRUE(feed(pl, 1, units()[1]));
    EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[1]));

    // Units the decoder cannot use produce no picture and leave it working.
    std::mt19937 rng(5);
    unit noise(3000);
    for (auto& b : noise)
        b = uint8_t(rng());
    unit bad_nal = {0, 0, 0, 1, 0xE5, 0x12, 0x34}; // forbidden bit set
    unit zeros(64, 0);
    for (const unit* bad : {&noise, &bad_nal, &zeros}) {
        EXPECT_FALSE(feed(pl, 1, *bad));
        EXPECT_TRUE(pl.take_picture().isNull());
    }
    EXPECT_TRUE(feed(pl, 1, units()[2]));
    EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[2]));
    EXPECT_EQ(pl.decoded_size(), QSize(k_w, k_h));
}

TEST_F(VideoDecoder, DciPicturesShowAndAStreamAboveTheLimitIsRefusedBeforeItsMemory)
{
    LogCapture log;
    // 4096 x 2304 (DCI 4K at 16:9, over the old 32 MiB conversion block): shown.
    {
        c_h264_encoder big;
        ASSERT_TRUE(big.open(4096, 2304, 30));
        QImage flat(4096, 2304, QImage::Format_RGB32);
        flat.fill(QColor(10, 80, 160));
        auto big_units = big.encode(flat);
        ASSERT_EQ(big_units.size(), 1u);
        c_video_pipeline pl;
        ASSERT_TRUE(feed(pl, 1, big_units[0]));
        QSize source;
        const QImage pic = pl.take_picture({}, &source);
        EXPECT_EQ(source, QSize(4096, 2304));
        ASSERT_EQ(pic.size(), QSize(4096, 2304));
        EXPECT_TRUE(near_rgb(pic.pixel(4000, 2200), qRgb(10, 80, 160), 6));
        // Scaled for a window in the same pass.
        const QImage small = pl.convert_again([](const QSize&) { return QSize(1024, 576); });
        ASSERT_EQ(small.size(), QSize(1024, 576));
        EXPECT_TRUE(near_rgb(small.pixel(1000, 500), qRgb(10, 80, 160), 6));
    }

    // 8192 x 8192, encoded in a child process (the encoder itself needs far
    // more memory than the limit this process is held to).
    const std::vector<unit> huge = units_from_child(8192, 8192, 4);
    ASSERT_EQ(huge.size(), 4u);

    // Peak resident memory from here on (the 4K part above does not count).
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    c_video_pipeline pl;
    std::vector<QSize> told;
    pl.set_refused_handler([&](const QSize& s) { told.push_back(s); });
    ASSERT_TRUE(feed(pl, 1, units()[0]));
    EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[0]));
    for (const unit& u : huge)
        EXPECT_FALSE(feed(pl, 1, u));
    EXPECT_TRUE(pl.take_picture().isNull());
    EXPECT_EQ(pl.refused_size(), QSize(8192, 8192));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], QSize(8192, 8192));
    EXPECT_TRUE(log.contains("video stream of 8192x8192 refused"));
    EXPECT_EQ(pl.decoded_size(), QSize(k_w, k_h));
    EXPECT_LT(peak_rss_mib(), 400.0);

    // The small stream's key frame brings its own parameter sets back.
    EXPECT_TRUE(feed(pl, 1, units()[0]));
    EXPECT_TRUE(same_pixels(pl.take_picture(), reference()[0]));
}

TEST_F(VideoDecoder, NewestPictureReplacesOneNotYetShown)
{
    c_video_pipeline pl;
    EXPECT_TRUE(feed(pl, 1, units()[0]));  // notice goes out
    EXPECT_FALSE(feed(pl, 1, units()[1])); // notice still outstanding
    EXPECT_FALSE(feed(pl, 1, units()[2]));
    QImage shown = pl.take_picture();
    EXPECT_TRUE(same_pixels(shown, reference()[2]));
    EXPECT_TRUE(pl.take_picture().isNull());
    EXPECT_TRUE(feed(pl, 1, units()[3])); // taken, so the next one notifies again
}

TEST_F(VideoDecoder, PictureHeldByTheGuiIsNeverOverwritten)
{
    auto pl = std::make_unique<c_video_pipeline>();
    feed(*pl, 1, units()[0]);
    feed(*pl, 1, units()[1]);
    QImage held = pl->take_picture(); // picture 1, still being painted

    // The decoder goes on; the held picture stays intact, the buffer's two
    // slots are enough while the GUI holds one picture at a time.
    for (int i = 2; i < 6; ++i)
        feed(*pl, 1, units()[size_t(i)]);
    EXPECT_TRUE(same_pixels(held, reference()[1]));
    QImage second = pl->take_picture();
    EXPECT_TRUE(same_pixels(second, reference()[5]));
    EXPECT_EQ(pl->conversion_buffer().outside_count(), 0);

    // With two pictures held the next one needs memory of its own.
    feed(*pl, 1, units()[6]);
    feed(*pl, 1, units()[7]);
    EXPECT_TRUE(same_pixels(pl->take_picture(), reference()[7]));
    EXPECT_GT(pl->conversion_buffer().outside_count(), 0);
    EXPECT_TRUE(same_pixels(held, reference()[1]));
    EXPECT_TRUE(same_pixels(second, reference()[5]));

    // Once they are let go the block is used again.
    held = QImage();
    second = QImage();
    const int outside = pl->conversion_buffer().outside_count();
    feed(*pl, 1, units()[8]);
    QImage last = pl->take_picture();
    EXPECT_EQ(pl->conversion_buffer().outside_count(), outside);

    // A picture outlives the pipeline that made it (channel restart).
    pl.reset();
    EXPECT_TRUE(same_pixels(last, reference()[8]));
}

TEST_F(VideoDecoder, GuiThreadNeverSeesAHalfWrittenPicture)
{
    // The decoder runs flat out on its own thread while this thread plays the
    // slow GUI, taking a picture for each notice: every picture it takes must
    // be one whole reference picture and stay so while it is held, and
    // notices never pile up.
    c_video_pipeline pl;
    std::atomic<bool> done{false};
    std::atomic<int> notices{0}, handled{0}, most_outstanding{0};
    std::thread decoder([&] {
        for (int round = 0; round < 15; ++round)
            for (int i = 0; i < k_count; ++i)
                if (feed(pl, 1, units()[size_t(i)])) {
                    const int outstanding = ++notices - handled.load();
                    if (outstanding > most_outstanding.load())
                        most_outstanding = outstanding;
                }
        done = true;
    });
    int taken = 0, torn = 0;
    auto which = [&](const QImage& img) {
        for (size_t k = 0; k < reference().size(); ++k)
            if (same_pixels(img, reference()[k]))
                return int(k);
        return -1;
    };
    for (;;) {
        if (notices.load() == handled.load()) {
            if (done.load() && notices.load() == handled.load())
                break;
            std::this_thread::yield();
            continue;
        }
        ++handled;
        QImage pic = pl.take_picture();
        if (pic.isNull())
            continue;
        ++taken;
        const int k = which(pic);
        if (k < 0)
            ++torn;
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // painting
        if (which(pic) != k)
            ++torn;
    }
    decoder.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(taken, 0);
    EXPECT_LE(most_outstanding.load(), 1);
    EXPECT_EQ(pl.pictures_published(), uint64_t(15 * k_count));
    // The last picture decoded is the one left for the GUI or already shown.
    EXPECT_EQ(pl.decoded_size(), QSize(k_w, k_h));
}

TEST(VideoDecoderWidth, PicturesOfAWidthNotAMultipleOf16LeaveOtherPicturesIntact)
{
    // 200 = 12 x 16 + 8: the converter's last row spills 32 bytes. A broken
    // device's stream reached widths like this and corrupted the heap.
    const int w = 200, h = 120;
    const std::vector<unit> units = encode_stream(w, h, 6);
    const std::vector<QImage> ref = reference_decode(units);
    ASSERT_EQ(ref.size(), units.size());

    // Slots: the picture held in the second slot while the first is written.
    c_video_pipeline pl;
    ASSERT_TRUE(feed(pl, 1, units[0]));
    QImage first = pl.take_picture();
    ASSERT_TRUE(feed(pl, 1, units[1]));
    QImage second = pl.take_picture();
    first = QImage();
    ASSERT_TRUE(feed(pl, 1, units[2]));
    EXPECT_TRUE(same_pixels(second, ref[1]));
    QImage third = pl.take_picture();
    EXPECT_TRUE(same_pixels(third, ref[2]));

    // Both slots held: pictures of their own, one after another, each
    // freed while the next is written.
    EXPECT_EQ(pl.conversion_buffer().outside_count(), 0);
    for (size_t i = 3; i < units.size(); ++i) {
        ASSERT_TRUE(feed(pl, 1, units[i]));
        EXPECT_TRUE(same_pixels(pl.take_picture(), ref[i])) << i;
    }
    EXPECT_GT(pl.conversion_buffer().outside_count(), 0);
    EXPECT_TRUE(same_pixels(second, ref[1]));
    EXPECT_TRUE(same_pixels(third, ref[2]));

    // Every piece of memory handed out has the spill-over room behind it (a
    // sanitizer build sees a write beyond an allocation), and no picture's
    // room overlaps another picture.
    c_conversion_buffer buf;
    std::vector<QImage> held;
    for (int i = 0; i < 3; ++i) {
        c_conversion_buffer::picture p = buf.acquire(w, h);
        ASSERT_FALSE(p.image.isNull());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                reinterpret_cast<QRgb*>(p.pixels + size_t(p.stride) * size_t(y))[x] = qRgb(10 * i, 20, 30);
        held.push_back(p.image);
        std::memset(p.pixels + size_t(p.stride) * h, 0xEE, size_t(c_conversion_buffer::k_tail));
    }
    EXPECT_EQ(buf.outside_count(), 1);
    for (int i = 0; i < 3; ++i) {
        const QRgb want = qRgb(10 * i, 20, 30);
        EXPECT_EQ(held[size_t(i)].pixel(0, 0), want) << i;
        EXPECT_EQ(held[size_t(i)].pixel(w - 1, h - 1), want) << i;
    }
    EXPECT_TRUE(c_conversion_buffer::fits(8192, 4320));
    EXPECT_FALSE(c_conversion_buffer::fits(8193, 4320));
    EXPECT_FALSE(c_conversion_buffer::fits(8192, 4321));
}

TEST(VideoDecoderWidth, EveryColumnIsConvertedAtAWidthNotAMultipleOf8)
{
    // 1366 x 768 screens are common. With rows packed at 1366 * 4 bytes the
    // converter's vector code has no room for the last block of 8 pixels and
    // leaves the last 6 columns of every row as they were.
    const int w = 1366, h = 64;
    const std::vector<unit> units = encode_stream(w, h, 3);
    c_video_pipeline pl;
    for (const unit& u : units) {
        ASSERT_TRUE(feed(pl, 1, u));
        const QImage pic = pl.take_picture();
        ASSERT_EQ(pic.size(), QSize(w, h));
        // The right-hand bar is near white (240, 240, 240) up to the edge.
        for (int y = 0; y < h; ++y)
            for (int x = w - 10; x < w; ++x) {
                const QRgb p = pic.pixel(x, y);
                ASSERT_GT(qRed(p), 200) << x << "," << y;
                ASSERT_GT(qGreen(p), 200) << x << "," << y;
                ASSERT_GT(qBlue(p), 200) << x << "," << y;
            }
    }
}

TEST(VideoDecoderPlain, DecodeBeforeOpenOrAfterCloseFails)
{
    c_video_decoder d;
    const uint8_t bytes[4] = {0, 0, 1, 0x65};
    EXPECT_LT(d.decode(bytes, 4), 0);
    ASSERT_TRUE(d.open());
    d.close();
    EXPECT_LT(d.decode(bytes, 4), 0);
    uint8_t out[16];
    EXPECT_FALSE(d.convert(out, 16));
}

TEST(VideoDecoderPlain, SparePicturesAreTakenOncePerSizeAndTheNextPictureUsesOne)
{
    // Spares taken for every picture would only grow the decoder's pool;
    // spares from another pool would warm memory no picture uses.
    c_video_decoder d;
    std::vector<const uint8_t*> spares;
    d.set_spare_handler([&](AVFrame* spare) {
        spares.push_back(spare->data[0]);
        for (int p = 0; p < AV_NUM_DATA_POINTERS && spare->buf[p]; ++p)
            std::memset(spare->buf[p]->data, 0, spare->buf[p]->size);
        av_frame_free(&spare);
    });
    ASSERT_TRUE(d.open());
    const std::vector<unit> small = encode_stream(320, 240, 6);
    const std::vector<unit> large = encode_stream(640, 480, 3);
    std::vector<const uint8_t*> used;
    for (const unit& u : small) {
        ASSERT_GT(d.decode(u.data(), int(u.size())), 0);
        used.push_back(d.picture()->data[0]);
    }
    ASSERT_EQ(spares.size(), size_t(c_video_decoder::k_spare_pictures));
    EXPECT_NE(std::find(spares.begin(), spares.end(), used[1]), spares.end());
    for (const unit& u : large)
        ASSERT_GT(d.decode(u.data(), int(u.size())), 0);
    EXPECT_EQ(spares.size(), size_t(2 * c_video_decoder::k_spare_pictures));
}

TEST(VideoDecoderEarly, PicturesConvertedWhileDecodedMatchTheGuisConversionAndBurstsAreLeftToTheGui)
{
    // 232 rows are coded as 240 and cropped: the decoder reports rows of the
    // coded picture while it decodes.
    const int w = 320, h = 232;
    const std::vector<unit> units = encode_stream(w, h, 10);
    const std::vector<QImage> ref = reference_decode(units);
    ASSERT_EQ(ref.size(), units.size());
    const QSize sizes[] = {QSize(w, h), QSize(200, 145), QSize(480, 348)};
    for (const QSize& size : sizes) {
        const c_video_pipeline::target_for target = [&](const QSize&) { return size; };
        c_video_pipeline pl;
        // The GUI converts the first picture itself and so says which size it wants.
        ASSERT_TRUE(feed(pl, 1, units[0]));
        ASSERT_EQ(pl.take_picture(target).size(), size);
        ASSERT_EQ(pl.pictures_converted_early(), 0u);
        for (size_t i = 1; i < 6; ++i) {
            ASSERT_TRUE(feed(pl, 1, units[i]));
            EXPECT_EQ(pl.pictures_converted_early(), uint64_t(i)) << size.width() << " picture " << i;
            const QImage early = pl.take_picture(target);
            const QImage own = pl.convert_again(target);
            ASSERT_EQ(early.size(), size);
            EXPECT_TRUE(same_pixels(early, own)) << size.width() << " picture " << i;
            if (size == QSize(w, h)) {
                EXPECT_TRUE(same_pixels(early, ref[i])) << "picture " << i;
            }
        }
        // The window was resized meanwhile: a picture converted for the old
        // size is converted again for the new one.
        ASSERT_TRUE(feed(pl, 1, units[6]));
        const c_video_pipeline::target_for resized = [](const QSize&) { return QSize(160, 116); };
        const QImage after = pl.take_picture(resized);
        ASSERT_EQ(after.size(), QSize(160, 116));
        EXPECT_TRUE(same_pixels(after, pl.convert_again(resized)));

        // A burst, while the GUI may not draw yet: none of it is converted
        // before the GUI takes the newest.
        const uint64_t early = pl.pictures_converted_early();
        const uint64_t converted = pl.pictures_converted();
        pl.set_draw_ready_at(std::chrono::steady_clock::now() + std::chrono::seconds(10));
        for (size_t i = 7; i < 10; ++i)
            feed(pl, 1, units[i]);
        EXPECT_EQ(pl.pictures_converted_early(), early);
        EXPECT_EQ(pl.pictures_converted(), converted);
        const QImage newest = pl.take_picture(target);
        EXPECT_TRUE(same_pixels(newest, pl.convert_again(target)));
        EXPECT_EQ(pl.pictures_converted(), converted + 2);
    }
}

TEST(VideoDecoderEarly, PicturesOfSeveralSlicesAreLeftToTheGuisConversion)
{
    // Four slices a picture: libavcodec decodes them on its slice threads at
    // once, reports their rows in any order and filters the rows at their
    // edges again afterwards, so none of them is converted early.
    const int w = 640, h = 480;
    const std::vector<unit> units = encode_stream(w, h, 12, 0, 4);
    const c_video_pipeline::target_for target = [](const QSize&) { return QSize(400, 300); };
    c_video_pipeline pl;
    for (size_t i = 0; i < units.size(); ++i) {
        ASSERT_TRUE(feed(pl, 1, units[i])) << i;
        const QImage pic = pl.take_picture(target);
        ASSERT_EQ(pic.size(), QSize(400, 300));
        EXPECT_TRUE(same_pixels(pic, pl.convert_again(target))) << "picture " << i;
    }
    EXPECT_EQ(pl.pictures_converted_early(), 0u);
}
