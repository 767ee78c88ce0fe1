// The frame cutter of the three receive threads, fed in chunk sizes taken
// from the input, with each complete frame put through the checks of the KM
// channel (checksum, deciphering) and of the video channel (first 16 bytes
// deciphered); the media channel dispatches frames as they are cut.
//
// Input: byte 0, low 4 bits = k, the number of chunk-schedule bytes that
// follow (see chunked_source); the rest is the byte stream from the device.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_common.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"

namespace {

void check_km(const uint8_t* header, const uint8_t* body, uint32_t len)
{
    auto copy = fuzz::exact_copy(body, len);
    uint32_t out_len = len;
    const bool kept = km_frame_check(header, copy.get(), &out_len, fuzz::device_key());
    FUZZ_CHECK(kept == (sum8(body, len) == header[2]));
    if (!kept) {
        FUZZ_CHECK(out_len == len);
        return;
    }
    // Deciphering only strips padding: at most one block, and only from a
    // body made of whole blocks.
    FUZZ_CHECK(out_len <= len);
    FUZZ_CHECK(len - out_len <= 8);
    if (len % 8 != 0 || frame_plain_len_field(header) == frame_wire_len(header))
        FUZZ_CHECK(out_len == len);
}

void check_video(const uint8_t* header, const uint8_t* body, uint32_t len)
{
    auto copy = fuzz::exact_copy(body, len);
    uint8_t* start = copy.get();
    uint32_t out_len = len;
    if (!video_frame_prepare(header, &start, &out_len, fuzz::device_key())) {
        FUZZ_CHECK(frame_plain_len(header) != frame_wire_len(header));
        return;
    }
    if (frame_plain_len(header) == frame_wire_len(header)) {
        FUZZ_CHECK(start == copy.get() && out_len == len);
        return;
    }
    // The handler gets the 12 plain bytes and the rest, 4 bytes in.
    FUZZ_CHECK(len >= 16);
    FUZZ_CHECK(start == copy.get() + 4 && out_len == len - 4);
    FUZZ_CHECK(start[0] == 6);
    FUZZ_CHECK(std::memcmp(start + 12, body + 16, len - 16) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t k = data[0] & 0x0f;
    if (size < 1 + k)
        return 0;
    fuzz::chunked_source src(data + 1 + k, size - 1 - k, data + 1, k);

    // One reader for the whole run, as a receive thread keeps one for its life.
    static c_frame_reader reader(FRAME_BODY_BUFFER_SIZE);

    for (;;) {
        const size_t before = src.position();
        const frame_read_result r = reader.read_frame(src);
        if (r == frame_read_result::peer_closed) {
            FUZZ_CHECK(src.position() == src.length());
            return 0;
        }
        if (r == frame_read_result::oversized) {
            // The channel closes; the body was never read.
            FUZZ_CHECK(frame_wire_len(reader.header()) > reader.body_capacity());
            FUZZ_CHECK(reader.header_received() == FRAME_HEADER_LEN);
            return 0;
        }
        FUZZ_CHECK(r == frame_read_result::frame);

        // The frame ends exactly where the reader stopped reading: nothing of
        // the next frame was taken, and header and body are the stream's bytes.
        const uint32_t len = reader.body_length();
        FUZZ_CHECK(len == frame_wire_len(reader.header()));
        FUZZ_CHECK(len <= reader.body_capacity());
        const size_t end = src.position();
        FUZZ_CHECK(end - before >= FRAME_HEADER_LEN + size_t(len));
        const uint8_t* in_stream = src.data() + end - len - FRAME_HEADER_LEN;
        FUZZ_CHECK(std::memcmp(in_stream, reader.header(), FRAME_HEADER_LEN) == 0);
        FUZZ_CHECK(len == 0 || std::memcmp(in_stream + FRAME_HEADER_LEN, reader.body(), len) == 0);
        // Everything skipped before the frame was other than the sync byte.
        FUZZ_CHECK(std::memchr(src.data() + before, FRAME_SYNC, in_stream - (src.data() + before)) == nullptr);

        check_km(reader.header(), reader.body(), len);
        check_video(reader.header(), reader.body(), len);
        // The media thread hands the frame on unchecked: its handler has a
        // target of its own.
    }
}
