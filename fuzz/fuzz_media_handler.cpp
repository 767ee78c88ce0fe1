// The media protocol handler with a mapped disk image, a real send queue and
// a real disk read thread, fed the device's byte stream. The harness plays
// the send thread: it takes every message the viewer queues, checks it, and
// keeps the last one in flight when the input says so.
//
// Invariants: nothing is written outside the image (its size stays, no other
// file appears, only sectors the device sent are changed, and to exactly the
// device's bytes); no byte past a message's length is read (each body is an
// exact-size heap copy); every queued message is a well-formed frame; a read
// wish inside the disk gives one read-data message per sector with the
// image's bytes, and one outside it gives none.
//
// With bit 2 set the harness sends like the real send thread instead: one
// message goes out per device message that acknowledges it, the rest stays
// queued, and the queue must stay bounded whatever the device asks for.
//
// Input: byte 0 holds flags; the rest is the media channel's byte stream.
//   bit 0: map the image read-only
//   bit 1: keep the last message of each exchange in the queue as the one in flight
//   bit 2: stop-and-wait sending (see above)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_common.h"
#include "fuzz_temp_dir.h"
#include "thread/c_media_protocol.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t k_sectors = 64;
constexpr uint32_t k_sector = 512;
constexpr uint32_t k_backlog_bound = 4 * k_sectors + 64;

uint8_t pattern(uint32_t sector, uint32_t j)
{
    return static_cast<uint8_t>(sector * 29 + j * 7 + 1);
}

struct image_env
{
    std::string dir;
    std::string path;
    std::vector<uint8_t> initial;

    image_env()
    {
        dir = fuzz::temp_dir();
        path = dir + "/disk.img";
        initial.resize(size_t(k_sectors) * k_sector);
        for (uint32_t s = 0; s < k_sectors; ++s)
            for (uint32_t j = 0; j < k_sector; ++j)
                initial[size_t(s) * k_sector + j] = pattern(s, j);
    }

    static image_env& get()
    {
        static image_env e;
        return e;
    }

    void reset() const
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        FUZZ_CHECK(fd >= 0);
        FUZZ_CHECK(::pwrite(fd, initial.data(), initial.size(), 0) == ssize_t(initial.size()));
        ::close(fd);
    }

    std::vector<uint8_t> contents() const
    {
        std::vector<uint8_t> out;
        const int fd = ::open(path.c_str(), O_RDONLY);
        FUZZ_CHECK(fd >= 0);
        struct stat st{};
        FUZZ_CHECK(::fstat(fd, &st) == 0);
        out.resize(size_t(st.st_size));
        FUZZ_CHECK(::pread(fd, out.data(), out.size(), 0) == ssize_t(out.size()));
        ::close(fd);
        return out;
    }
};

// What the viewer owes the device, and the image as it must be.
class model
{
public:
    model(bool read_only, bool track_messages)
        : m_read_only(read_only), m_track(track_messages), m_image(image_env::get().initial)
    {
    }

    // Called before the handler sees the message.
    void device_message(const uint8_t* body, uint32_t len)
    {
        if (len >= 8 && body[0] == c_media_protocol::MSG_STATUS && m_track) {
            const uint32_t start = read_be32(body + 2);
            const uint16_t count = read_be16(body + 6);
            if (body[1] == c_media_protocol::WISH_READ && count > 0 && uint64_t(start) + count <= k_sectors) {
                m_reads.push_back({start, count, 0});
                m_reads_outstanding += count;
            } else if (body[1] == c_media_protocol::WISH_WRITE && count > 0 && uint64_t(start) + count <= k_sectors) {
                for (uint32_t i = 0; i < count; ++i)
                    m_write_requests.push_back({i, i + 1 == count});
            }
        } else if (len >= 8 + k_sector && body[0] == c_media_protocol::MSG_WRITE_DATA) {
            const uint64_t sector = uint64_t(read_be32(body + 2)) + read_be16(body + 6);
            if (read_be32(body + 2) != 0xFFFFFFFFu && sector < k_sectors && !m_read_only)
                std::memcpy(&m_image[sector * k_sector], body + 8, k_sector);
        }
    }

    // Every message the viewer queued, once, in queue order.
    void queued(const CQUEUE_MESSAGE& msg)
    {
        const uint8_t type = fuzz::check_outgoing_frame(msg.data, uint32_t(msg.length));
        const uint8_t* body = msg.data + FRAME_HEADER_LEN;
        const uint8_t last = msg.last_flag;
        if (!m_track) {
            // Only the frame itself: which wishes were served depends on timing.
            FUZZ_CHECK(type == 9 || type == 10 || last == 0);
            return;
        }
        if (type == 9) {
            FUZZ_CHECK(!m_reads.empty());
            read_job& job = m_reads.front();
            FUZZ_CHECK(read_be32(body + 2) == job.start);
            FUZZ_CHECK(read_be16(body + 6) == job.next);
            const uint32_t sector = job.start + job.next;
            FUZZ_CHECK(std::memcmp(body + 8, &m_image[size_t(sector) * k_sector], k_sector) == 0);
            ++job.next;
            FUZZ_CHECK((last != 0) == (job.next == job.count));
            --m_reads_outstanding;
            if (job.next == job.count)
                m_reads.pop_front();
        } else if (type == 10) {
            // Requests of a wish made while not mapped are never queued.
            if (!m_write_requests.empty()) {
                FUZZ_CHECK(read_be16(body + 2) == m_write_requests.front().offset);
                FUZZ_CHECK((last != 0) == m_write_requests.front().last);
                m_write_requests.pop_front();
            } else {
                fuzz::fail("write-data request the device did not ask for");
            }
        } else {
            FUZZ_CHECK(last == 0);
        }
    }

    uint64_t reads_outstanding() const { return m_reads_outstanding; }
    bool write_requests_done() const { return m_write_requests.empty(); }
    const std::vector<uint8_t>& image() const { return m_image; }

private:
    struct read_job
    {
        uint32_t start;
        uint32_t count;
        uint32_t next;
    };
    struct write_request
    {
        uint32_t offset;
        bool last;
    };

    bool m_read_only;
    bool m_track;
    std::vector<uint8_t> m_image;
    std::deque<read_job> m_reads;
    std::deque<write_request> m_write_requests;
    uint64_t m_reads_outstanding = 0;
};

// The send thread's part: everything queued is taken and checked; the
// message kept in flight goes back as the queue's only element.
class sender
{
public:
    sender(mt_queue<CQUEUE_MESSAGE>& queue, model& m) : m_queue(queue), m_model(m) {}

    ~sender() { release(); }

    // Takes everything, waiting (bounded) until the read thread has queued
    // every sector of every read wish inside the disk.
    void settle(bool keep_in_flight)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        CQUEUE_MESSAGE last;
        bool have_last = false;
        for (;;) {
            CQUEUE_MESSAGE msg;
            while (m_queue.pop(msg)) {
                if (have_last)
                    free_msg(last);
                if (msg.data != m_in_flight)
                    m_model.queued(msg);
                m_in_flight = nullptr;
                last = msg;
                have_last = true;
            }
            if (m_model.reads_outstanding() == 0)
                break;
            if (std::chrono::steady_clock::now() > deadline)
                fuzz::fail("read-data messages of a read wish inside the disk never came");
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!have_last)
            return;
        if (keep_in_flight) {
            // The read thread has nothing left to queue, so this is the head.
            m_in_flight = last.data;
            m_queue.push(last);
        } else {
            free_msg(last);
        }
    }

    // Stop-and-wait: the message in flight goes once the device acknowledges it.
    void acknowledged(unsigned char result)
    {
        if (result == c_media_protocol::RESULT_REFUSE)
            return;
        CQUEUE_MESSAGE msg;
        if (m_queue.pop(msg)) {
            if (msg.data != m_in_flight)
                m_model.queued(msg);
            m_in_flight = nullptr;
            free_msg(msg);
        }
    }

    // Frees whatever is still queued, checking what was not seen yet.
    void release()
    {
        CQUEUE_MESSAGE msg;
        while (m_queue.pop(msg)) {
            if (msg.data != m_in_flight)
                m_model.queued(msg);
            m_in_flight = nullptr;
            free_msg(msg);
        }
    }

private:
    static void free_msg(CQUEUE_MESSAGE& msg) { msg.free_data(); }

    mt_queue<CQUEUE_MESSAGE>& m_queue;
    model& m_model;
    uint8_t* m_in_flight = nullptr;
};

void check_directory(const image_env& env)
{
    // The image is the only file there: nothing was created beside it.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(env.dir)) {
        FUZZ_CHECK(entry.path().filename() == "disk.img");
        ++files;
    }
    FUZZ_CHECK(files == 1);
}

size_t changed_sectors(const std::vector<uint8_t>& image)
{
    const std::vector<uint8_t>& initial = image_env::get().initial;
    size_t n = 0;
    for (size_t s = 0; s < k_sectors; ++s)
        n += std::memcmp(&image[s * k_sector], &initial[s * k_sector], k_sector) != 0;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool read_only = data[0] & 1;
    const bool keep_in_flight = data[0] & 2;
    const bool stop_and_wait = data[0] & 4;

    const image_env& env = image_env::get();
    env.reset();
    model expect(read_only, !stop_and_wait);

    int64_t now_ms = 0;
    unsigned messages = 0;
    {
        c_media_protocol proto([&now_ms] { return now_ms; });
        proto.set_pauses({0, 0});
        sender send(proto.queue(), expect);
        FUZZ_CHECK(proto.map(env.path, read_only));
        if (!stop_and_wait)
            send.settle(keep_in_flight);

        static c_frame_reader reader(FRAME_BODY_BUFFER_SIZE);
        fuzz::chunked_source src(data + 1, size - 1, nullptr, 0);
        while (reader.read_frame(src) == frame_read_result::frame) {
            const uint32_t len = reader.body_length();
            ++messages;
            auto body = fuzz::exact_copy(reader.body(), len);
            expect.device_message(body.get(), len);
            const unsigned char result =
                proto.on_net_msg(nullptr, body.get(), frame_plain_len_field(reader.header()), len);
            FUZZ_CHECK(result == c_media_protocol::RESULT_OK || result == c_media_protocol::RESULT_REFUSE);
            // The GUI's timers keep running meanwhile.
            now_ms += 700;
            proto.poll_tick();
            proto.progress_tick();
            const int percent = proto.progress_percent();
            FUZZ_CHECK(percent >= 0 && percent <= 100);
            if (stop_and_wait) {
                send.acknowledged(result);
                // One batch (at most the disk's sectors) in flight and one
                // more being read, whatever the device asks for.
                FUZZ_CHECK(proto.queue().size() <= int(k_backlog_bound));
            } else {
                send.settle(keep_in_flight);
            }
        }
        proto.unmap();
        FUZZ_CHECK(expect.reads_outstanding() == 0);
        send.release();
        FUZZ_CHECK(expect.write_requests_done());
    }

    const std::vector<uint8_t> image = env.contents();
    FUZZ_CHECK(image.size() == expect.image().size());
    FUZZ_CHECK(image == expect.image());
    check_directory(env);
    if (fuzz::verbose())
        std::fprintf(stderr, "messages %u, sectors changed %zu\n", messages, changed_sectors(image));
    return 0;
}
