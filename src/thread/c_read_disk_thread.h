#pragma once
// Serves the device's sector reads off the media receive thread: each queued
// request (start, count) is read from the local disk with one seek and one
// read, then sent as one read-data message per sector, the last one flagged
// as the end of the batch.
#include <QSemaphore>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

#include "tools/socket/c_abs_thread.h"
#include "tools/socket/mt_queue.h"

class c_read_write_disk_sector_win;

class c_read_disk_thread : public c_abs_thread
{
    Q_OBJECT
public:
    c_read_disk_thread(mt_queue<CQUEUE_MESSAGE>* send_queue, std::shared_ptr<c_read_write_disk_sector_win> disk);
    // Stops the thread and waits for it to end before anything goes away.
    ~c_read_disk_thread() override;

    // Called from the media receive thread.
    void enqueue_read(uint32_t start, uint32_t count);
    // Drops every pending request.
    void reset();

    // Asks the thread to end: it leaves its wait at once and abandons the
    // request in hand between two sectors. Follow with wait() before the
    // send queue is emptied or the disk is closed, so that nothing more is
    // queued after that.
    void stop();
    bool is_running() const { return m_running.load(); }

    // Requests not yet served: waiting, or in hand until the last of their
    // messages is queued (a wish that comes meanwhile is out of turn).
    int pending() const;

protected:
    void run() override;

private:
    bool take_request(uint32_t& start, uint32_t& count);
    void serve(uint32_t start, uint32_t count);

    mt_queue<CQUEUE_MESSAGE>* m_send_queue;
    std::shared_ptr<c_read_write_disk_sector_win> m_disk;
    std::shared_ptr<std::mutex> m_lock;
    std::list<std::pair<uint32_t, uint32_t>> m_requests;
    bool m_in_hand = false;  // under m_lock
    QSemaphore m_request_sem{0};
    std::atomic<bool> m_running{true};
};
