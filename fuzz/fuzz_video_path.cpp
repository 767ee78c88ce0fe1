// The video path after the socket: frame cutting, deciphering of the first
// 16 body bytes, the fragment assembler, the H.264 decoder and the
// conversion into pictures for the GUI, with a GUI that takes, keeps or
// ignores the pictures.
//
// Input: byte 0 holds flags; the rest is, with bit 0 clear, the video
// channel's byte stream as the device sends it (seeds are captured from the
// test device), or with bit 0 set, raw fragments: records of a flag byte
// (1 = last fragment of a picture), a big-endian u16 length and that many
// H.264 bytes, so that the decoder sees mutated H.264 directly.
//   bit 1: the GUI keeps the last two pictures it took
//   bit 2: the GUI takes only every second picture it is told about
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QImage>

extern "C" {
#include <libavutil/log.h>
}

#include "fuzz_common.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"

namespace {

class gui_side
{
public:
    gui_side(c_video_pipeline& pipeline, uint8_t flags) : m_pipeline(pipeline), m_flags(flags) {}

    // Hands one message body to the pipeline the way the video receive
    // thread does, and plays the GUI's part when told about a picture.
    void deliver(const uint8_t* body, uint32_t len)
    {
        auto copy = fuzz::exact_copy(body, len);
        if (!m_pipeline.on_video_data(copy.get(), static_cast<int>(len)))
            return;
        ++m_notices;
        if ((m_flags & 4) && (m_notices & 1))
            return;
        const QImage picture = m_pipeline.take_picture();
        FUZZ_CHECK(!picture.isNull());
        FUZZ_CHECK(picture.format() == QImage::Format_RGB32);
        FUZZ_CHECK(picture.size() == m_pipeline.decoded_size());
        // Touch the whole picture as the painter would.
        volatile uint8_t sink = 0;
        const uint8_t* bits = picture.constBits();
        const qsizetype n = picture.sizeInBytes();
        sink = static_cast<uint8_t>(sink ^ bits[0] ^ bits[n - 1]);
        if (m_flags & 2) {
            m_kept[m_next] = picture;
            m_next ^= 1;
        }
    }

private:
    c_video_pipeline& m_pipeline;
    uint8_t m_flags;
    unsigned m_notices = 0;
    QImage m_kept[2];
    int m_next = 0;
};

void run_stream(gui_side& gui, const uint8_t* data, size_t size)
{
    static c_frame_reader reader(FRAME_BODY_BUFFER_SIZE);
    fuzz::chunked_source src(data, size, nullptr, 0);
    while (reader.read_frame(src) == frame_read_result::frame) {
        auto body = fuzz::exact_copy(reader.body(), reader.body_length());
        uint8_t* start = body.get();
        uint32_t len = reader.body_length();
        if (!video_frame_prepare(reader.header(), &start, &len, fuzz::device_key()))
            continue;
        if (len >= 1 && start[0] == 6)
            gui.deliver(start, len);
    }
}

void run_raw(gui_side& gui, const uint8_t* data, size_t size)
{
    size_t pos = 0;
    std::vector<uint8_t> body;
    while (size - pos >= 3) {
        const uint8_t flag = data[pos];
        const size_t n = std::min<size_t>(read_be16(data + pos + 1), size - pos - 3);
        pos += 3;
        body.assign(c_frame_assembler::k_header_length, 0);
        body[0] = 6;
        body[1] = flag;
        write_be32(&body[8], static_cast<uint32_t>(n));
        body.insert(body.end(), data + pos, data + pos + n);
        pos += n;
        gui.deliver(body.data(), static_cast<uint32_t>(body.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // Made anew for every input, as at every video channel start.
    c_video_pipeline pipeline;
    FUZZ_CHECK(pipeline.is_open());
    gui_side gui(pipeline, data[0]);
    if (data[0] & 1)
        run_raw(gui, data + 1, size - 1);
    else
        run_stream(gui, data + 1, size - 1);
    if (fuzz::verbose())
        std::fprintf(stderr, "pictures %llu, last %dx%d\n", static_cast<unsigned long long>(pipeline.pictures_published()),
                     pipeline.decoded_size().width(), pipeline.decoded_size().height());
    return 0;
}
