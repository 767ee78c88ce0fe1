// Feeds arbitrary bytes to the frame cutter and the KM / video receive checks.
// Byte 0 picks the read size of the source (0 = as much as asked).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint32_t capacity = 4096;  // small, so oversized lengths are common
    c_memory_byte_source src(data + 1, static_cast<uint32_t>(size - 1), data[0] % 17);
    c_frame_reader reader(capacity);
    for (;;) {
        const frame_read_result r = reader.read_frame(src);
        if (r != frame_read_result::frame)
            break;
        if (reader.body_length() > capacity)
            abort();
        std::vector<uint8_t> km(reader.body(), reader.body() + reader.body_length());
        uint32_t km_len = reader.body_length();
        if (km_frame_check(reader.header(), km.data(), &km_len, key) && km_len > reader.body_length())
            abort();
        uint8_t* start = reader.body();
        uint32_t len = reader.body_length();
        if (video_frame_prepare(reader.header(), &start, &len, key) &&
            (start < reader.body() || start + len != reader.body() + reader.body_length()))
            abort();
    }
    return 0;
}
