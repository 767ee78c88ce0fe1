// Disk read thread against a real image file and a real send queue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "common/wait_until.h"
#include "thread/c_read_disk_thread.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/c_frame.h"

namespace fs = std::filesystem;

namespace
{
// Sector i holds bytes (i * 31 + j) & 0xFF, so every sector differs from its neighbours.
uint8_t pattern(uint32_t sector, uint32_t j)
{
    return static_cast<uint8_t>((sector * 31 + j) & 0xFF);
}

class ReadDiskThread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.ok());
        m_dir = m_tmp.path();
        m_disk = std::make_shared<c_read_write_disk_sector_win>();
    }
    void TearDown() override
    {
        m_thread.reset();
        drain_and_free(m_queue);
        m_disk.reset();
    }

    void open_image(uint32_t sectors)
    {
        const std::string img = (m_dir / "disk.img").string();
        std::vector<uint8_t> all(static_cast<size_t>(sectors) * 512);
        for (uint32_t s = 0; s < sectors; ++s)
            for (uint32_t j = 0; j < 512; ++j)
                all[s * 512 + j] = pattern(s, j);
        ASSERT_TRUE(write_all(img, all.data(), all.size()));
        ASSERT_TRUE(m_disk->open(img));
    }

    void start()
    {
        m_thread = std::make_unique<c_read_disk_thread>(&m_queue, m_disk);
        m_thread->start();
    }

    struct read_data
    {
        uint32_t start;
        uint16_t index;
        uint8_t last;
        std::vector<uint8_t> sector;
    };

    // Pops one queued message and checks that it is a complete read-data frame.
    read_data pop_read_data()
    {
        CQUEUE_MESSAGE msg;
        EXPECT_TRUE(m_queue.pop(msg));
        read_data out{0, 0, 0, {}};
        EXPECT_EQ(FRAME_HEADER_LEN + 520u, msg.length);
        if (msg.length != FRAME_HEADER_LEN + 520u)
        {
            msg.free_data();
            return out;
        }
        const uint8_t* h = msg.data;
        const uint8_t* b = msg.data + FRAME_HEADER_LEN;
        EXPECT_EQ(0xA5, h[0]);
        EXPECT_EQ(520u, frame_wire_len(h));
        EXPECT_EQ(520u, frame_plain_len(h));
        EXPECT_EQ(sum8(b, 520), h[2]);
        EXPECT_EQ(0x09, b[0]);
        EXPECT_EQ(0x01, b[1]);
        out.start = read_be32(b + 2);
        out.index = read_be16(b + 6);
        out.last = msg.last_flag;
        out.sector.assign(b + 8, b + 520);
        msg.free_data();
        return out;
    }

    static std::vector<uint8_t> sector_bytes(uint32_t sector)
    {
        std::vector<uint8_t> v(512);
        for (uint32_t j = 0; j < 512; ++j)
            v[j] = pattern(sector, j);
        return v;
    }

    TempDir m_tmp{"kvm_rdt_"};
    fs::path m_dir;
    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_read_write_disk_sector_win> m_disk;
    std::unique_ptr<c_read_disk_thread> m_thread;
};
}  // namespace

TEST_F(ReadDiskThread, OneMessagePerSectorOnlyLastFlagged)
{
    LogCapture log;
    open_image(200);
    start();
    m_thread->enqueue_read(100, 3);
    ASSERT_TRUE(wait_until([&] { return m_queue.size() == 3; }));
    for (uint16_t i = 0; i < 3; ++i)
    {
        const read_data m = pop_read_data();
        EXPECT_EQ(100u, m.start);
        EXPECT_EQ(i, m.index);
        EXPECT_EQ(i == 2 ? 1 : 0, m.last);
        EXPECT_EQ(sector_bytes(100 + i), m.sector);
    }
    EXPECT_TRUE(log.contains("send read response, start100,index2,count3"));
}

TEST_F(ReadDiskThread, ShortReadSendsNothingAndLogsBothSizes)
{
    LogCapture log;
    open_image(101);
    start();
    // Only sector 100 exists of 100..102.
    m_thread->enqueue_read(100, 3);
    ASSERT_TRUE(wait_until([&] { return log.contains("err,readLocalDisk with size:512,but wana size is:1536"); }));

    // A start past the end, then a zero count: both send nothing.
    m_thread->enqueue_read(5000, 1);
    ASSERT_TRUE(wait_until([&] { return log.contains("err ,readLocal Disk_setPoint,start=5000"); }));
    ASSERT_TRUE(wait_until([&] { return log.contains("err,readLocalDisk_readFile"); }));
    m_thread->enqueue_read(7, 0);
    // A request served after them proves they were all handled before it.
    m_thread->enqueue_read(9, 1);
    ASSERT_TRUE(wait_until([&] { return m_queue.size() >= 1; }));
    ASSERT_EQ(1, m_queue.size());
    const read_data m = pop_read_data();
    EXPECT_EQ(9u, m.start);
    EXPECT_EQ(1, m.last);
    EXPECT_EQ(sector_bytes(9), m.sector);
}

TEST_F(ReadDiskThread, RequestsAreServedInArrivalOrder)
{
    open_image(64);
    start();
    m_thread->enqueue_read(40, 2);
    m_thread->enqueue_read(3, 1);
    m_thread->enqueue_read(20, 2);
    ASSERT_TRUE(wait_until([&] { return m_queue.size() == 5; }));
    const uint32_t starts[] = {40, 40, 3, 20, 20};
    const uint16_t indexes[] = {0, 1, 0, 0, 1};
    const uint8_t lasts[] = {0, 1, 1, 0, 1};
    for (int k = 0; k < 5; ++k)
    {
        const read_data m = pop_read_data();
        EXPECT_EQ(starts[k], m.start) << k;
        EXPECT_EQ(indexes[k], m.index) << k;
        EXPECT_EQ(lasts[k], m.last) << k;
        EXPECT_EQ(sector_bytes(starts[k] + indexes[k]), m.sector) << k;
    }
}

TEST_F(ReadDiskThread, StopEndsTheThreadAndNothingFollows)
{
    LogCapture log;
    open_image(20000);
    start();
    // An idle thread ends promptly once stopped.
    m_thread->stop();
    ASSERT_TRUE(m_thread->wait(5000));

    // A stop in the middle of a large request: once wait() returns, what was
    // queued is an unbroken run of that request's sectors and the queue no
    // longer grows, so the owner can empty it and close the disk.
    start();
    m_thread->enqueue_read(0, 20000);
    ASSERT_TRUE(wait_until([&] { return m_queue.size() > 0; }));
    m_thread->stop();
    ASSERT_TRUE(m_thread->wait(5000));
    const int queued = m_queue.size();
    for (int k = 0; k < queued; ++k)
    {
        const read_data m = pop_read_data();
        ASSERT_EQ(0u, m.start);
        ASSERT_EQ(k, m.index);
        ASSERT_EQ(k == 19999 ? 1 : 0, m.last);
    }
    m_disk->close();

    // A request on a closed disk, like after an unmap, sends nothing.
    log.clear();
    start();
    m_thread->enqueue_read(1, 1);
    ASSERT_TRUE(wait_until([&] { return log.contains("err,readLocalDisk with size:0,but wana size is:512"); }));
    EXPECT_TRUE(log.contains("err ,readLocal Disk_setPoint,start=1"));
    m_thread.reset();  // the destructor stops and waits
    EXPECT_EQ(0, m_queue.size());
}
