#include "thread/c_read_disk_thread.h"

#include <cinttypes>
#include <vector>

#include "log/log.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/c_msg_builder.h"

namespace
{
const uint32_t SECTOR = c_read_write_disk_sector_win::SECTOR_SIZE;
}

c_read_disk_thread::c_read_disk_thread(mt_queue<CQUEUE_MESSAGE>* send_queue,
                                       std::shared_ptr<c_read_write_disk_sector_win> disk)
    : m_send_queue(send_queue), m_disk(std::move(disk)), m_lock(std::make_shared<std::mutex>())
{
    reset();
    m_running = true;
}

c_read_disk_thread::~c_read_disk_thread()
{
    // A thread object must never be destroyed while its run body may still
    // be reading the disk or filling the queue.
    stop();
    wait();
    reset();
}

void c_read_disk_thread::enqueue_read(uint32_t start, uint32_t count)
{
    {
        std::lock_guard<std::mutex> guard(*m_lock);
        m_requests.emplace_back(start, count);
    }
    m_request_sem.release(1);
}

void c_read_disk_thread::reset()
{
    // The semaphore stays the same object (the thread may be waiting on it);
    // its permits are taken back instead.
    std::lock_guard<std::mutex> guard(*m_lock);
    m_request_sem.tryAcquire(m_request_sem.available());
    m_requests.clear();
    // The thread sleeps until it gets a permit: one taken back after stop()
    // is given again, or the thread would never see the stop.
    if (!m_running)
        m_request_sem.release(1);
}

void c_read_disk_thread::stop()
{
    m_running = false;
    m_request_sem.release(1);
}

int c_read_disk_thread::pending() const
{
    std::lock_guard<std::mutex> guard(*m_lock);
    return static_cast<int>(m_requests.size()) + (m_in_hand ? 1 : 0);
}

bool c_read_disk_thread::take_request(uint32_t& start, uint32_t& count)
{
    std::lock_guard<std::mutex> guard(*m_lock);
    if (m_requests.empty())
        return false;
    start = m_requests.front().first;
    count = m_requests.front().second;
    m_requests.pop_front();
    m_in_hand = true;
    return true;
}

void c_read_disk_thread::run()
{
    // Sleeps on the semaphore until a request or stop() gives it a permit:
    // no periodic wake-up while the disk is idle.
    while (m_running)
    {
        m_request_sem.acquire(1);
        if (!m_running)
            break;
        uint32_t start = 0, count = 0;
        // A permit without a request (after reset() or stop()) is simply used up.
        if (take_request(start, count))
        {
            serve(start, count);
            // Also when the read failed and nothing was queued.
            std::lock_guard<std::mutex> guard(*m_lock);
            m_in_hand = false;
        }
    }
}

void c_read_disk_thread::serve(uint32_t start, uint32_t count)
{
    const uint64_t wanted = static_cast<uint64_t>(count) * SECTOR;
    std::vector<uint8_t> buf(static_cast<size_t>(wanted));

    // A failed seek leaves the disk without a position, so the read below
    // fails too and nothing is sent: the device asks again.
    if (!m_disk->seek(start))
        LOG_ERROR("err ,readLocal Disk_setPoint,start=%u", start);

    uint32_t got = 0;
    if (!m_disk->read(buf.data(), static_cast<uint32_t>(wanted), &got))
        LOG_ERROR("err,readLocalDisk_readFile");

    if (static_cast<uint64_t>(got) != wanted)
    {
        LOG_ERROR("err,readLocalDisk with size:%" PRIu64 ",but wana size is:%" PRIu64, static_cast<uint64_t>(got),
                  wanted);
        return;
    }

    for (uint32_t i = 0; i < count; ++i)
    {
        // After stop() the owner empties the queue: nothing may follow that.
        if (!m_running)
            return;
        LOG_DEBUG("send read response, start%u,index%u,count%u", start, i, count);
        CQUEUE_MESSAGE msg = build_msg_9(0x01, start, static_cast<uint16_t>(i), buf.data() + i * SECTOR, SECTOR,
                                         i + 1 == count ? 1 : 0);
        if (msg.empty())
        {
            msg.free_data();
            return;
        }
        // The batch stops counting as pending in the same step as its last
        // message is queued: from then on the queue tells.
        std::lock_guard<std::mutex> guard(*m_lock);
        m_send_queue->push(msg);
        if (i + 1 == count)
            m_in_hand = false;
    }
}
