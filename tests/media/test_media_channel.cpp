// The media channel end to end on loopback: the protocol with its real send
// and receive threads against a scripted device.
#include <gtest/gtest.h>

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
#include "thread/c_media_protocol.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_socket_recv_u.h"

namespace fs = std::filesystem;
using namespace media_peer;

namespace
{
class MediaChannel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.ok());
        m_dir = m_tmp.path();
        m_img = (m_dir / "disk.img").string();
        bytes all(kSectors * 512);
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<uint8_t>((i / 512) * 7 + i % 251);
        ASSERT_TRUE(write_all(m_img, all.data(), all.size()));
        m_proto = std::make_unique<c_media_protocol>();
        m_proto->set_pauses({20, 200});
    }
    void TearDown() override
    {
        m_proto.reset();
    }

    bytes sector(uint32_t s)
    {
        bytes b(512);
        int fd = ::open(m_img.c_str(), O_RDONLY);
        EXPECT_EQ(512, ::pread(fd, b.data(), 512, static_cast<off_t>(s) * 512));
        ::close(fd);
        return b;
    }

    void connect_and_identify()
    {
        ASSERT_TRUE(m_proto->connect_channel("127.0.0.1", m_dev.port()));
        ASSERT_TRUE(m_dev.accept_client());
        m_proto->start_channel(0x01020304);
        EXPECT_EQ((bytes{0x32, 0x01, 0x02, 0x03, 0x04}), m_dev.next());
        m_dev.send({0x32, 0x00});
    }

    void map_and_answer(bool read_only = false)
    {
        ASSERT_TRUE(m_proto->map(m_img, read_only));
        EXPECT_EQ(map_msg(0, 0), m_dev.next());
        m_dev.send({0x07, 0x01, 0x00});
        EXPECT_EQ(map_msg(read_only ? 0x81 : 0x01, kSectors), m_dev.next());
        m_dev.send({0x07, 0x01, 0x00});
        EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    }

    static constexpr uint32_t kSectors = 128;
    TempDir m_tmp{"kvm_mchan_"};
    fs::path m_dir;
    std::string m_img;
    scripted_device m_dev;
    std::unique_ptr<c_media_protocol> m_proto;
};
}  // namespace

TEST_F(MediaChannel, ReadWriteAndPollCycle)
{
    LogCapture log;
    connect_and_identify();
    map_and_answer();

    // Read wish: one sector per message; a refused sector comes again at once
    // (well before the 2000 ms acknowledgement time-out).
    m_dev.send(status_answer(1, 2, 2));
    bytes b = m_dev.next();
    EXPECT_EQ(read_data_head(2, 0), read_data_head(b));
    EXPECT_EQ(sector(2), bytes(b.begin() + 8, b.end()));
    m_dev.send({0x09, 0x01, 0x01});
    b = m_dev.next(1500);
    EXPECT_EQ(read_data_head(2, 0), read_data_head(b));
    EXPECT_TRUE(log.contains("wait ack failed,pak_readData"));
    m_dev.send({0x09, 0x01, 0x00});
    b = m_dev.next();
    EXPECT_EQ(read_data_head(2, 1), read_data_head(b));
    EXPECT_EQ(sector(3), bytes(b.begin() + 8, b.end()));
    m_dev.send({0x09, 0x01, 0x00});
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());

    // Write wish: the client fetches each sector, then asks again.
    m_dev.send(status_answer(2, 7, 2));
    for (uint8_t off = 0; off < 2; ++off)
    {
        EXPECT_EQ((bytes{0x0A, 0x01, 0x00, off}), m_dev.next());
        bytes data(520, static_cast<uint8_t>(0xD0 + off));
        data[0] = 0x0A;
        data[1] = 0x01;
        write_be32(&data[2], 7);
        write_be16(&data[6], off);
        m_dev.send(data);
    }
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    EXPECT_EQ(bytes(512, 0xD0), sector(7));
    EXPECT_EQ(bytes(512, 0xD1), sector(8));

    // No wish: the poll asks again on its 11th tick.
    m_dev.send(status_answer(0, 0, 0));
    ASSERT_TRUE([&] {
        for (int i = 0; i < 5000 && !m_proto->poll_armed(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_proto->poll_armed();
    }());
    for (int i = 0; i < 11; ++i)
        m_proto->poll_tick();
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    m_dev.send(status_answer(0, 0, 0));

    m_proto->unmap();
    EXPECT_EQ(map_msg(0, kSectors), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});

    // Shutting down announces the unmap once more and stops the threads.
    m_proto->shutdown();
    EXPECT_EQ(map_msg(0, 0), m_dev.next());
    EXPECT_EQ(0, m_proto->queue().size());
}

TEST_F(MediaChannel, UnmapWhileReadsAreQueuedSendsTheUnmapNext)
{
    connect_and_identify();
    map_and_answer();
    m_dev.send(status_answer(1, 0, 100));
    EXPECT_EQ(read_data_head(0, 0), read_data_head(m_dev.next()));
    const auto end = clock_type::now() + std::chrono::seconds(5);
    while (m_proto->queue().size() < 100 && clock_type::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(100, m_proto->queue().size());

    m_proto->unmap();
    m_dev.send({0x09, 0x01, 0x00});  // acknowledges sector 0, the one in flight
    EXPECT_EQ(map_msg(0, kSectors), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ(bytes{}, m_dev.next(300));  // nothing else was left
}

TEST_F(MediaChannel, ShutdownWaitsOnlyUntilTheDeviceHasTheUnmap)
{
    // Pauses far longer than the test may take: a shutdown that sat them out
    // would take 20 s.
    m_proto->set_pauses({20, 10000});
    connect_and_identify();
    map_and_answer();
    m_dev.send(status_answer(0, 0, 0));  // the status request in flight
    bytes last;
    std::thread device([&] {
        last = m_dev.next(5000);
        if (last == map_msg(0, 0))
            m_dev.send({0x07, 0x01, 0x00});
    });
    const auto t0 = clock_type::now();
    m_proto->shutdown();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - t0);
    device.join();
    EXPECT_EQ(map_msg(0, 0), last) << "the unmap went out before the channel closed";
    EXPECT_LT(took.count(), 5000) << "the shutdown sat out its pauses";
    EXPECT_EQ(0, m_proto->queue().size());
    EXPECT_FALSE(m_proto->disk()->is_open());
}

TEST_F(MediaChannel, NoDeviceAndPeerClose)
{
    // Connection refused: the threads start anyway and shut down cleanly.
    {
        c_media_protocol lonely;
        lonely.set_pauses({0, 0});
        EXPECT_FALSE(lonely.connect_channel("127.0.0.1", unused_port()));
        lonely.start_channel(1);
        ASSERT_TRUE(lonely.map(m_img, false));
        lonely.unmap();
        lonely.shutdown();
        EXPECT_EQ(0, lonely.queue().size());
    }

    // The device goes away while mapped: the channel tries to come back, and
    // shutdown still ends everything, attempts included.
    connect_and_identify();
    map_and_answer();
    m_dev.close_connection();
    const auto end = clock_type::now() + std::chrono::seconds(5);
    while (m_proto->reconnect_attempts() == 0 && clock_type::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(m_proto->reconnect_attempts(), 1);
    m_proto->shutdown();
    EXPECT_FALSE(m_proto->is_mapped());
    EXPECT_FALSE(m_proto->disk()->is_open());
}
