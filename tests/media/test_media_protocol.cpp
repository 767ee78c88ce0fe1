// Media protocol handler with a real send queue, a real disk image and a
// real disk read thread; the send thread's part (acknowledge, pop) is played
// by the test where the channel is not started.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "common/log_capture.h"
#include "common/media_device_peer.h"
#include "common/temp_dir.h"
#include "common/wait_until.h"
#include "thread/c_media_protocol.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/c_frame.h"

namespace fs = std::filesystem;
using namespace media_peer;

namespace
{
uint8_t pattern(uint32_t sector, uint32_t j)
{
    return static_cast<uint8_t>((sector * 13 + j * 3) & 0xFF);
}

class MediaProtocol : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.ok());
        m_dir = m_tmp.path();
        m_img = (m_dir / "disk.img").string();
        bytes all(static_cast<size_t>(kSectors) * 512);
        for (uint32_t s = 0; s < kSectors; ++s)
            for (uint32_t j = 0; j < 512; ++j)
                all[s * 512 + j] = pattern(s, j);
        ASSERT_TRUE(write_all(m_img, all.data(), all.size()));
        m_proto = std::make_unique<c_media_protocol>([this] { return m_now.load(); });
        m_proto->set_pauses({0, 0});
    }

    void TearDown() override
    {
        m_proto.reset();
    }

    unsigned char deliver(const bytes& b)
    {
        return m_proto->on_net_msg(nullptr, b.data(), static_cast<unsigned>(b.size()),
                                   static_cast<unsigned>(b.size()));
    }

    mt_queue<CQUEUE_MESSAGE>& q() { return m_proto->queue(); }

    // The body of the head, which stays queued.
    bytes head_body()
    {
        const CQUEUE_MESSAGE& m = q().front();
        if (m.empty() || m.length < FRAME_HEADER_LEN)
            return {};
        return bytes(m.data + FRAME_HEADER_LEN, m.data + m.length);
    }

    // What the send thread does with an acknowledged head.
    bytes pop_body(uint8_t* last_flag = nullptr, std::string* tag = nullptr)
    {
        CQUEUE_MESSAGE m;
        EXPECT_TRUE(q().pop(m));
        bytes b;
        if (!m.empty())
        {
            EXPECT_EQ(FRAME_HEADER_LEN + frame_wire_len(m.data), m.length);
            b.assign(m.data + FRAME_HEADER_LEN, m.data + m.length);
        }
        if (last_flag)
            *last_flag = m.last_flag;
        if (tag)
            *tag = m.tag;
        m.free_data();
        return b;
    }

    void map(bool read_only = false)
    {
        ASSERT_TRUE(m_proto->map(m_img, read_only));
        // unmap 0/0, map with the count, status request
        ASSERT_EQ(3, q().size());
        pop_body();
        pop_body();
        pop_body();
    }

    bytes file_sector(uint32_t s)
    {
        bytes b(512);
        int fd = ::open(m_img.c_str(), O_RDONLY);
        EXPECT_EQ(512, ::pread(fd, b.data(), 512, static_cast<off_t>(s) * 512));
        ::close(fd);
        return b;
    }

    static bytes original_sector(uint32_t s)
    {
        bytes b(512);
        for (uint32_t j = 0; j < 512; ++j)
            b[j] = pattern(s, j);
        return b;
    }

    static constexpr uint32_t kSectors = 256;
    TempDir m_tmp{"kvm_media_"};
    fs::path m_dir;
    std::string m_img;
    std::atomic<int64_t> m_now{1000000};
    std::unique_ptr<c_media_protocol> m_proto;
};
}  // namespace

TEST_F(MediaProtocol, MapQueuesUnmapMapAndStatusWithModeBit)
{
    LogCapture log;
    ASSERT_TRUE(m_proto->map(m_img, false));
    EXPECT_TRUE(m_proto->is_mapped());
    ASSERT_EQ(3, q().size());
    EXPECT_EQ((bytes{0x07, 0x01, 0x00, 0, 0, 0, 0}), pop_body());
    EXPECT_EQ((bytes{0x07, 0x01, 0x01, 0, 0, 0x01, 0x00}), pop_body());  // 256 sectors
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), pop_body());
    EXPECT_TRUE(log.contains("enqueue request status package"));
    EXPECT_FALSE(m_proto->map(m_img, false));  // already mapped
    EXPECT_EQ(0, q().size());

    m_proto->unmap();
    EXPECT_FALSE(m_proto->is_mapped());
    ASSERT_EQ(1, q().size());
    EXPECT_EQ((bytes{0x07, 0x01, 0x00, 0, 0, 0x01, 0x00}), pop_body());
    EXPECT_FALSE(m_proto->disk()->is_open());
    m_proto->unmap();  // not mapped: nothing
    EXPECT_EQ(0, q().size());

    ASSERT_TRUE(m_proto->map(m_img, true));
    pop_body();
    EXPECT_EQ((bytes{0x07, 0x01, 0x81, 0, 0, 0x01, 0x00}), pop_body());
    pop_body();
    m_proto->unmap();
    pop_body();

    log.clear();
    EXPECT_FALSE(m_proto->map((m_dir / "missing.img").string(), false));
    EXPECT_TRUE(log.contains("err onMap_openLocalDisk "));
    EXPECT_FALSE(m_proto->is_mapped());
    EXPECT_EQ(0, q().size());
}

TEST_F(MediaProtocol, WriteWishFetchesEverySectorThenAsksAgain)
{
    LogCapture log;
    map();
    EXPECT_EQ(0, deliver(status_answer(2, 40, 3)));
    EXPECT_TRUE(log.contains("xxx ask ack write,start=40,count=3"));
    EXPECT_TRUE(log.contains("xxx enque pak10,offset=2,count=3"));
    ASSERT_EQ(3, q().size());

    for (uint16_t offset = 0; offset < 3; ++offset)
    {
        // The request in flight is the head; the device answers with its sector.
        const bytes req = head_body();
        EXPECT_EQ((bytes{0x0A, 0x01, 0x00, static_cast<uint8_t>(offset)}), req);
        EXPECT_EQ(offset == 2 ? 1 : 0, q().front().last_flag);
        EXPECT_EQ(0, std::string(q().front().tag).rfind("pak10_", 0));
        EXPECT_EQ(12u, std::string(q().front().tag).size());  // pak10_ss_zzz

        EXPECT_EQ(0, deliver(write_data(40, offset, static_cast<uint8_t>(0xB0 + offset))));
        EXPECT_EQ(3 - offset + (offset == 2 ? 1 : 0), q().size());
        pop_body();
    }
    EXPECT_TRUE(log.contains("xxx pak10 ack ok,get buf,start:40, offset\xEF\xBC\x9A" "2"));
    EXPECT_TRUE(log.contains("xxx1207 pak10 ack,writeDisk_OK"));
    EXPECT_TRUE(log.contains("is last pak will resend"));
    // Only the data for the flagged request asked for the status again.
    ASSERT_EQ(1, q().size());
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), pop_body());

    EXPECT_EQ(bytes(512, 0xB0), file_sector(40));
    EXPECT_EQ(bytes(512, 0xB1), file_sector(41));
    EXPECT_EQ(bytes(512, 0xB2), file_sector(42));
    EXPECT_EQ(original_sector(43), file_sector(43));

    // A count of 0 queues nothing.
    EXPECT_EQ(0, deliver(status_answer(2, 40, 0)));
    EXPECT_EQ(0, q().size());
}

TEST_F(MediaProtocol, BadWriteDataIsRefusedOrLoggedAndNeverWritten)
{
    LogCapture log;
    map();
    EXPECT_EQ(5, deliver(write_data(0xFFFFFFFFu, 0, 0x77)));
    EXPECT_TRUE(log.contains("got 0xffffffff start index"));
    EXPECT_FALSE(log.contains("get buf"));

    // Past the end of the disk, and start + offset beyond 32 bits (which must
    // not wrap around to sector 0x10).
    EXPECT_EQ(0, deliver(write_data(kSectors, 0, 0x77)));
    EXPECT_EQ(0, deliver(write_data(0xFFFFFFF0u, 0x20, 0x77)));
    EXPECT_EQ(0, deliver(write_data(kSectors - 1, 1, 0x77)));
    EXPECT_EQ(3u, [&] {
        unsigned n = 0;
        for (const auto& l : log.lines())
            n += l.find("pak10 ack,writeDisk_setPoint err") != std::string::npos;
        return n;
    }());
    EXPECT_EQ(kSectors * 512u, fs::file_size(m_img));
    for (uint32_t s : {0u, 0x10u, kSectors - 1})
        EXPECT_EQ(original_sector(s), file_sector(s));
    EXPECT_EQ(0, q().size());

    // Read-only: the write fails locally, is logged, and is still accepted.
    m_proto->unmap();
    pop_body();
    map(true);
    log.clear();
    EXPECT_EQ(0, deliver(write_data(5, 0, 0x99)));
    EXPECT_TRUE(log.contains("pak10 ack,writeDisk_writeDisk err, error code is " + std::to_string(EBADF)));
    EXPECT_FALSE(log.contains("writeDisk_OK"));
    EXPECT_EQ(original_sector(5), file_sector(5));
}

TEST_F(MediaProtocol, ReadWishGoesToTheReadThreadAndAcksDriveTheCycle)
{
    LogCapture log;
    map();
    EXPECT_EQ(0, deliver(status_answer(1, 100, 3)));
    EXPECT_TRUE(log.contains("ask ack= I want to read:3 from 100"));
    ASSERT_TRUE(wait_until([&] { return q().size() == 3; }));

    for (uint16_t i = 0; i < 3; ++i)
    {
        const bytes b = head_body();
        ASSERT_EQ(520u, b.size());
        EXPECT_EQ(0x09, b[0]);
        EXPECT_EQ(100u, read_be32(&b[2]));
        EXPECT_EQ(i, read_be16(&b[6]));
        EXPECT_EQ(original_sector(100 + i), bytes(b.begin() + 8, b.end()));
        if (i == 0)
        {
            // A refused sector stays at the head to be sent again.
            EXPECT_EQ(5, deliver({0x09, 0x01, 0x01}));
            EXPECT_TRUE(log.contains("err readDisk_ack_err, pack type: 1,pack result: 1"));
            EXPECT_EQ(5, deliver({0x09, 0x00, 0x00}));
            EXPECT_TRUE(log.contains("err readDisk_ack_err, pack type: 0,pack result: 0"));
            EXPECT_EQ(3, q().size());
        }
        EXPECT_EQ(0, deliver({0x09, 0x01, 0x00}));
        // The status request follows only the flagged last sector.
        EXPECT_EQ(3 - i + (i == 2 ? 1 : 0), q().size());
        pop_body();
    }
    EXPECT_TRUE(log.contains("readDisk_ack_ok"));
    ASSERT_EQ(1, q().size());
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), pop_body());
}

TEST_F(MediaProtocol, WishesTheDiskCannotServeAreLoggedAndTheStatusAskedAgain)
{
    // Served, nothing would come back for them and the device would wait for
    // ever: beyond the end, at sector 0xFFFFFFFF, reaching past 32 bits, or
    // of no sectors at all.
    LogCapture log;
    map();
    struct
    {
        uint8_t wish;
        uint32_t start;
        uint16_t count;
    } cases[] = {{1, kSectors - 2, 16}, {1, 0xFFFFFFF0u, 0xFFFF}, {1, 10, 0},
                 {2, 0xFFFFFFFFu, 1},   {2, 0xFFFFFFFEu, 3},      {2, kSectors - 1, 2}, {2, 10, 0}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.wish) + " " + std::to_string(c.start) + " " + std::to_string(c.count));
        log.clear();
        EXPECT_EQ(0, deliver(status_answer(c.wish, c.start, c.count)));
        EXPECT_TRUE(log.contains("not served: the disk has 256 sectors"));
        EXPECT_TRUE(m_proto->poll_armed());
        // Nothing is read or fetched; after the poll's pause the status is asked again.
        EXPECT_FALSE(wait_until([&] { return q().size() > 0; }, 100));
        for (int i = 0; i <= c_media_protocol::POLL_TICK_LIMIT; ++i)
            m_proto->poll_tick();
        ASSERT_EQ(1, q().size());
        EXPECT_EQ((bytes{0x08, 0x01, 0x00}), pop_body());
    }
    for (uint32_t s : {0u, kSectors - 1})
        EXPECT_EQ(original_sector(s), file_sector(s));

    // The last sectors themselves are served.
    EXPECT_EQ(0, deliver(status_answer(1, kSectors - 2, 2)));
    EXPECT_TRUE(wait_until([&] { return q().size() == 2; }));
}

TEST_F(MediaProtocol, NoWishArmsThePollOnlyWhileMapped)
{
    LogCapture log;
    EXPECT_EQ(0, deliver(status_answer(0, 0, 0)));
    EXPECT_FALSE(m_proto->poll_armed());
    EXPECT_FALSE(log.contains("ask ack= I want nothing"));
    for (int i = 0; i < 20; ++i)
        m_proto->poll_tick();
    EXPECT_EQ(0, q().size());

    map();
    EXPECT_EQ(0, deliver(status_answer(7, 0, 0)));
    EXPECT_TRUE(log.contains("ask ack= I want nothing"));
    EXPECT_TRUE(m_proto->poll_armed());
    for (int i = 0; i < 10; ++i)
        m_proto->poll_tick();
    EXPECT_EQ(0, q().size());
    m_proto->poll_tick();  // the 11th
    ASSERT_EQ(1, q().size());
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), pop_body());
    EXPECT_FALSE(m_proto->poll_armed());
    for (int i = 0; i < 20; ++i)
        m_proto->poll_tick();
    EXPECT_EQ(0, q().size());

    // A status request in between starts the count again.
    EXPECT_EQ(0, deliver(status_answer(0, 0, 0)));
    for (int i = 0; i < 6; ++i)
        m_proto->poll_tick();
    m_proto->request_status();
    pop_body();
    EXPECT_EQ(0, deliver(status_answer(0, 0, 0)));
    for (int i = 0; i < 10; ++i)
        m_proto->poll_tick();
    EXPECT_EQ(0, q().size());
    m_proto->poll_tick();
    EXPECT_EQ(1, q().size());
}

TEST_F(MediaProtocol, UnmapDropsWaitingMessagesAndKeepsTheOneInFlight)
{
    map();
    EXPECT_EQ(0, deliver(status_answer(1, 0, 200)));
    ASSERT_TRUE(wait_until([&] { return q().size() == 200; }));
    const bytes in_flight = head_body();

    m_proto->unmap();
    ASSERT_EQ(2, q().size());
    EXPECT_EQ(in_flight, pop_body());
    EXPECT_EQ((bytes{0x07, 0x01, 0x00, 0, 0, 0x01, 0x00}), pop_body());

    // After the unmap, late device answers queue nothing.
    EXPECT_EQ(0, deliver(status_answer(2, 0, 5)));
    EXPECT_EQ(0, deliver(status_answer(1, 0, 5)));
    EXPECT_EQ(0, deliver({0x09, 0x01, 0x00}));
    EXPECT_EQ(0, q().size());
}

TEST_F(MediaProtocol, ProgressBySectorsAndByIdleTime)
{
    map();
    EXPECT_EQ(0, m_proto->progress_percent());
    deliver(status_answer(1, 0, 9000));
    EXPECT_EQ(30, m_proto->progress_percent());
    deliver(status_answer(1, 0, 20700));  // 29700: 99, shown as 100
    EXPECT_EQ(100, m_proto->progress_percent());
    EXPECT_FALSE(m_proto->progress_complete());
    deliver(status_answer(1, 0, 300));
    EXPECT_TRUE(m_proto->progress_complete());
    EXPECT_EQ(30000u, m_proto->sectors_requested());
    deliver(status_answer(1, 0, 50));
    EXPECT_EQ(30000u, m_proto->sectors_requested());  // complete: no more changes

    m_proto->unmap();
    ASSERT_TRUE(wait_until([&] { return q().size() > 0; }));
    drain_and_free(q());

    // Idle: 5 s after the last read wish, not before.
    map();
    EXPECT_EQ(0, m_proto->progress_percent());
    EXPECT_FALSE(m_proto->progress_complete());
    m_now += 3000;
    deliver(status_answer(1, 0, 3000));
    EXPECT_EQ(10, m_proto->progress_percent());
    m_now += 5000;
    m_proto->progress_tick();
    EXPECT_FALSE(m_proto->progress_complete());
    EXPECT_EQ(10, m_proto->progress_percent());
    m_now += 1;
    m_proto->progress_tick();
    EXPECT_TRUE(m_proto->progress_complete());
    EXPECT_EQ(100, m_proto->progress_percent());
    EXPECT_EQ(8001, m_proto->ms_since_map());
}

TEST_F(MediaProtocol, ShortMessagesAreLoggedAndChangeNothing)
{
    LogCapture log;
    map();
    const bytes full[] = {{0x32, 0x01},
                          {0x07, 0x01, 0x00},
                          status_answer(2, 10, 3),
                          {0x09, 0x01, 0x00},
                          write_data(10, 0, 0x44)};
    for (const bytes& msg : full)
    {
        std::vector<size_t> lengths;
        for (size_t len = 1; len < msg.size() && len <= 9; ++len)
            lengths.push_back(len);
        if (msg.size() > 9)
            lengths.insert(lengths.end(), {100, msg.size() - 1});
        for (size_t len : lengths)
        {
            log.clear();
            const bytes cut(msg.begin(), msg.begin() + static_cast<long>(len));
            EXPECT_EQ(5, deliver(cut)) << "type " << int(msg[0]) << " len " << len;
            EXPECT_TRUE(log.contains("too short")) << "type " << int(msg[0]) << " len " << len;
            EXPECT_EQ(1u, log.lines().size()) << "type " << int(msg[0]) << " len " << len;
        }
    }
    EXPECT_EQ(0, q().size());
    EXPECT_FALSE(m_proto->poll_armed());
    EXPECT_EQ(original_sector(10), file_sector(10));
    EXPECT_EQ(0u, m_proto->sectors_requested());

    // An empty body and unknown types are accepted and ignored.
    EXPECT_EQ(0, m_proto->on_net_msg(nullptr, nullptr, 0, 0));
    EXPECT_EQ(0, deliver({0x55}));
    EXPECT_EQ(0, deliver({0x55, 1, 2, 3}));
    EXPECT_EQ(0, q().size());

    // Full-length answers of the other types log as the device meant them.
    log.clear();
    EXPECT_EQ(0, deliver({0x32, 0x07}));
    EXPECT_TRUE(log.contains("vm,, recv userID ack,value=7"));
    EXPECT_EQ(0, deliver({0x07, 0x01, 0x00}));
    EXPECT_TRUE(log.contains("==========mapOrUnmap ack_ok"));
    EXPECT_EQ(0, deliver({0x07, 0x01, 0x03}));
    EXPECT_TRUE(log.contains("err map ack_err"));
}

TEST_F(MediaProtocol, AWishWhileTheBatchIsStillBeingReadIsOutOfTurn)
{
    // The read thread takes a batch off its list before it reads and queues
    // it; a wish that comes meanwhile must not be served as if nothing were
    // outstanding. Wishes keep coming until the whole batch is queued.
    map();
    EXPECT_EQ(0, deliver(status_answer(1, 0, 200)));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (q().size() < 200 && std::chrono::steady_clock::now() < end)
        deliver(status_answer(1, 0, 200));
    ASSERT_EQ(200, q().size());
    EXPECT_FALSE(wait_until([&] { return q().size() > 200; }, 300)) << q().size();
}

TEST_F(MediaProtocol, ReadWishesBetweenUnmapAndMapAreCheckedLikeLaterOnes)
{
    // The map waits between its unmap and its map message; wishes that come
    // in then (a device still serving the previous mapping) are served only
    // as far as they would be after the map: the disk must hold them, and an
    // earlier batch must be out. Without the checks five wishes of 200
    // sectors queued 1,000 messages.
    m_proto->set_pauses({400, 0});
    std::atomic<bool> delivered{false};
    std::thread device([&] {
        // The unmap message is queued first; the map message comes after the pause.
        if (!wait_until([&] { return q().size() >= 1; }, 5000))
            return;
        for (int i = 0; i < 5; ++i)
            deliver(status_answer(1, 0, 200));
        deliver(status_answer(1, kSectors - 10, 200));  // beyond the end
        delivered = true;
    });
    ASSERT_TRUE(m_proto->map(m_img, false));
    device.join();
    ASSERT_TRUE(delivered);

    // One batch of 200 read-data messages, plus the unmap, map and status messages.
    ASSERT_TRUE(wait_until([&] { return q().size() >= 203; }, 5000)) << q().size();
    EXPECT_FALSE(wait_until([&] { return q().size() > 203; }, 300)) << q().size();
}
