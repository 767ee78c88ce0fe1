// The recorder with a real H.264 stream (the test device's encoder): a file
// starts at a key frame even when the recording starts inside a group of
// pictures, a new picture size goes into a new file, the arrival times become
// the time stamps, and every file decodes from its first packet to its last.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <filesystem>
#include <fstream>

#include "common/temp_dir.h"
#include "encoder/c_h264_encoder.h"
#include "tools/record/c_stream_recorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;

namespace {

using access_unit = c_h264_encoder::access_unit;
using ms = std::chrono::milliseconds;

// n pictures of w x h with a key frame every key_interval: a square moves
// over a changing background, so every unit carries real picture data.
std::vector<access_unit> encode(int w, int h, int n, int key_interval)
{
    c_h264_encoder enc;
    c_h264_encoder::options opt;
    opt.keyframe_interval = key_interval;
    EXPECT_TRUE(enc.open(w, h, 25, opt));
    std::vector<access_unit> out;
    for (int i = 0; i < n; ++i) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(qRgb(20 + 4 * i, 60, 90));
        QPainter p(&img);
        p.fillRect(8 * i % (w - 32), h / 3, 32, 32, Qt::yellow);
        p.end();
        for (access_unit& u : enc.encode(img))
            out.push_back(std::move(u));
    }
    for (access_unit& u : enc.flush())
        out.push_back(std::move(u));
    EXPECT_EQ(int(out.size()), n);
    return out;
}

struct file_report
{
    int width = 0, height = 0;
    std::string codec;
    int packets = 0, frames = 0, errors = 0;
    bool first_is_key = false;
    std::vector<int64_t> pts_ms;
    int64_t duration_ms = -1;
};

// Reads a file back with libavformat and decodes every packet.
file_report read_back(const std::string& path)
{
    file_report r;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return r;
    avformat_find_stream_info(fmt, nullptr);
    const AVStream* st = fmt->streams[0];
    r.width = st->codecpar->width;
    r.height = st->codecpar->height;
    r.codec = avcodec_get_name(st->codecpar->codec_id);
    r.duration_ms = fmt->duration == AV_NOPTS_VALUE ? -1 : fmt->duration / 1000;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        int rc;
        while ((rc = avcodec_receive_frame(dec, frame)) == 0) {
            ++r.frames;
            if (frame->decode_error_flags != 0)
                ++r.errors;
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
            ++r.errors;
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (r.packets == 0)
            r.first_is_key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        ++r.packets;
        r.pts_ms.push_back(av_rescale_q(pkt->pts, st->time_base, AVRational{1, 1000}));
        if (avcodec_send_packet(dec, pkt) < 0)
            ++r.errors;
        av_packet_unref(pkt);
        drain();
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return r;
}

// The recorder's notices, kept as its writer thread gives them.
struct notice_log
{
    explicit notice_log(c_stream_recorder& rec)
    {
        rec.set_notice([this](const c_stream_recorder::notice& n) {
            std::lock_guard<std::mutex> g(lock);
            notices.push_back(n);
        });
    }
    std::mutex lock;
    std::vector<c_stream_recorder::notice> notices;
};

}  // namespace

TEST(StreamRecorder, StartsAtTheNextKeyFrameAndOpensANewFileForANewSize)
{
    TempDir dir;
    // 320x240 with key frames at 0, 10, 20; then 480x272 from a key frame.
    const std::vector<access_unit> small = encode(320, 240, 25, 10);
    const std::vector<access_unit> large = encode(480, 272, 12, 100);

    c_stream_recorder rec;
    notice_log log(rec);
    // The next file's name is held by a link to someone else's file: the
    // recording takes the next free name and leaves the target alone.
    const fs::path victim = dir.path() / "victim.txt";
    std::ofstream(victim) << "not yours";
    fs::create_symlink(victim, dir.path() / "rec-2.mkv");

    std::string error;
    ASSERT_TRUE(rec.start((dir.path() / "rec").string(), &error)) << error;
    EXPECT_TRUE(rec.recording());

    // Arrivals 40 ms apart, with one late picture (a stall of 300 ms) that
    // must show in the time stamps.
    auto t = c_stream_recorder::clock::now();
    for (size_t i = 3; i < small.size(); ++i) {  // starts inside the first group
        t += ms(i == 15 ? 300 : 40);
        rec.push(small[i].data(), int(small[i].size()), t);
    }
    t += std::chrono::seconds(10);  // a new size at most every 10 s
    for (const access_unit& u : large) {
        t += ms(40);
        rec.push(u.data(), int(u.size()), t);
    }
    rec.stop();
    EXPECT_FALSE(rec.recording());

    const std::vector<std::string> files = rec.files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], (dir.path() / "rec.mkv").string());
    EXPECT_EQ(files[1], (dir.path() / "rec-3.mkv").string());
    EXPECT_TRUE(fs::is_symlink(dir.path() / "rec-2.mkv"));
    EXPECT_EQ(read_all(victim), "not yours");
    EXPECT_EQ(rec.dropped(), 7u);  // units 3..9, before the first key frame
    {
        std::lock_guard<std::mutex> g(log.lock);
        const auto& notices = log.notices;
        ASSERT_EQ(notices.size(), 2u);
        EXPECT_EQ(notices[0].kind, c_stream_recorder::notice::file_started);
        EXPECT_EQ(notices[1].text, files[1]);
    }

    const file_report a = read_back(files[0]);
    EXPECT_EQ(a.codec, "h264");
    EXPECT_EQ(a.width, 320);
    EXPECT_EQ(a.height, 240);
    EXPECT_TRUE(a.first_is_key);
    EXPECT_EQ(a.packets, 15);  // units 10..24
    EXPECT_EQ(a.frames, 15);
    EXPECT_EQ(a.errors, 0);
    ASSERT_EQ(a.pts_ms.size(), 15u);
    EXPECT_EQ(a.pts_ms.front(), 0);
    EXPECT_EQ(a.pts_ms[5] - a.pts_ms[4], 300);  // unit 15 came late
    EXPECT_EQ(a.pts_ms.back(), 13 * 40 + 300);
    EXPECT_NEAR(double(a.duration_ms), 14 * 40 + 300, 2.0);

    const file_report b = read_back(files[1]);
    EXPECT_EQ(b.codec, "h264");
    EXPECT_EQ(b.width, 480);
    EXPECT_EQ(b.height, 272);
    EXPECT_TRUE(b.first_is_key);
    EXPECT_EQ(b.packets, 12);
    EXPECT_EQ(b.frames, 12);
    EXPECT_EQ(b.errors, 0);
    ASSERT_FALSE(b.pts_ms.empty());
    EXPECT_EQ(b.pts_ms.front(), 0);
    EXPECT_EQ(b.pts_ms.back(), 11 * 40);
}

TEST(StreamRecorder, NoKeyFrameLeavesNoFileAndAnUnwritableDirectoryFailsAtStart)
{
    TempDir dir;
    const std::vector<access_unit> units = encode(320, 240, 8, 100);
    c_stream_recorder rec;
    std::string error;
    ASSERT_TRUE(rec.start((dir.path() / "only-p").string(), &error)) << error;
    auto t = c_stream_recorder::clock::now();
    for (size_t i = 1; i < units.size(); ++i)
        rec.push(units[i].data(), int(units[i].size()), t += ms(40));
    rec.stop();
    EXPECT_TRUE(rec.files().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "only-p.mkv"));

    EXPECT_FALSE(rec.start((dir.path() / "missing" / "rec").string(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(rec.recording());
}

// Pictures that arrive in bursts (a stall, then several within a
// millisecond or two) keep distinct time stamps that readers assuming a
// constant rate do not fold onto one tick: ffmpeg decodes the file to its
// null output without a word.
TEST(StreamRecorder, BurstsOfPicturesStayApartForReaders)
{
    TempDir dir;
    const std::vector<access_unit> units = encode(320, 240, 60, 30);
    c_stream_recorder rec;
    std::string error;
    ASSERT_TRUE(rec.start((dir.path() / "burst").string(), &error)) << error;
    const int gaps[] = {1, 0, 2, 90, 1, 33, 3, 20, 0, 50};
    auto t = c_stream_recorder::clock::now();
    for (size_t i = 0; i < units.size(); ++i)
        rec.push(units[i].data(), int(units[i].size()), t += ms(gaps[i % 10]));
    rec.stop();
    ASSERT_EQ(rec.files().size(), 1u);

    const file_report r = read_back(rec.files()[0]);
    EXPECT_EQ(r.frames, 60);
    EXPECT_EQ(r.errors, 0);
    const std::string command = "ffmpeg -nostdin -v error -i '" + rec.files()[0] + "' -f null - 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string said;
    char line[512];
    while (fgets(line, sizeof line, p))
        said += line;
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(said, "");
}

TEST(StreamRecorder, ABreakGoesOnInTheSameFileAndSizesChangingTooFastEndTheRecording)
{
    TempDir dir;
    const std::vector<access_unit> before = encode(320, 240, 10, 10);
    const std::vector<access_unit> after = encode(320, 240, 10, 5);  // other parameter sets, same size
    const std::vector<access_unit> other = encode(480, 272, 5, 5);
    c_stream_recorder rec;
    notice_log log(rec);
    std::string error;
    ASSERT_TRUE(rec.start((dir.path() / "brk").string(), &error)) << error;
    auto t = c_stream_recorder::clock::now();
    for (const access_unit& u : before)
        rec.push(u.data(), int(u.size()), t += ms(40));
    // The connection is lost for 3 s; the new one starts inside a group
    // of pictures, which waits for its key frame.
    rec.mark_gap();
    t += std::chrono::seconds(3);
    for (size_t i = 3; i < after.size(); ++i)
        rec.push(after[i].data(), int(after[i].size()), t += ms(40));
    // A new size 4 s after the file began: too soon, the recording ends.
    for (const access_unit& u : other)
        rec.push(u.data(), int(u.size()), t += ms(40));
    rec.stop();

    ASSERT_EQ(rec.files().size(), 1u);
    const file_report r = read_back(rec.files()[0]);
    EXPECT_EQ(r.errors, 0);
    ASSERT_EQ(r.pts_ms.size(), 15u);  // 10 before, 5 from the key frame at 5
    EXPECT_EQ(r.pts_ms[10] - r.pts_ms[9], 3000 + 3 * 40);
    EXPECT_GT(rec.bytes_written(), 0u);
    std::lock_guard<std::mutex> g(log.lock);
    ASSERT_FALSE(log.notices.empty());
    EXPECT_EQ(log.notices.back().kind, c_stream_recorder::notice::failed);
}
