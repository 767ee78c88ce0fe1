#include "thread/c_media_protocol.h"

#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <utility>

#include "log/log.h"
#include "thread/c_read_disk_thread.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/c_socket_factory.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_recv_u.h"
#include "tools/socket/c_socket_send_u.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace
{
const uint32_t SECTOR = c_read_write_disk_sector_win::SECTOR_SIZE;

// Bytes each device message must carry before any of its fields is read.
unsigned needed_length(uint8_t type)
{
    switch (type)
    {
    case c_media_protocol::MSG_USER_ID:
        return 2;
    case c_media_protocol::MSG_MAP:
    case c_media_protocol::MSG_READ_DATA:
        return 3;
    case c_media_protocol::MSG_STATUS:
        return 8;
    case c_media_protocol::MSG_WRITE_DATA:
        return 8 + SECTOR;
    default:
        return 1;
    }
}
}  // namespace

c_media_protocol::c_media_protocol(clock_fn clock, std::string sysfs_root)
    : m_clock(std::move(clock)), m_sysfs_root(std::move(sysfs_root))
{
}

c_media_protocol::~c_media_protocol()
{
    shutdown();
}

int64_t c_media_protocol::now() const
{
    if (m_clock)
        return m_clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---------------------------------------------------------------- channel

bool c_media_protocol::connect_channel(const char* ip, uint16_t port)
{
    m_ip = ip ? ip : "";
    m_port = port == 0 ? DEFAULT_PORT : port;
    m_connect_error.clear();
    m_sock = connect_endpoint(m_ip, m_port, CONNECT_TIMEOUT_MS, &m_connect_error);
    if (m_sock)
        return true;
    LOG_ERROR("media connect error: %s", m_connect_error.c_str());
    // The threads still start on a closed socket and end at once.
    m_sock = std::make_shared<c_tcp_sock>();
    return false;
}

void c_media_protocol::start_channel(uint32_t user_id, c_abs_net_handler* handler)
{
    if (m_pair || m_shut_down)
        return;
    m_user_id = user_id;
    m_handler = handler ? handler : this;
    if (!m_sock)
        m_sock = std::make_shared<c_tcp_sock>();
    // A channel whose first connect failed is tried again in the background,
    // like one that was lost; the session goes on meanwhile. Without an
    // address (connect_channel never ran) there is nothing to try.
    if (m_port != 0) {
        c_channel_keeper::hooks h;
        h.detach = [this] { detach_channel(); };
        h.attach = [this](std::shared_ptr<c_tcp_sock> s) { attach_channel(std::move(s)); };
        m_keeper = std::make_unique<c_channel_keeper>("media", m_ip, m_port, h);
        if (!m_sock->is_open())
            m_keeper->first_connect_failed(m_connect_error);
    }
    attach_channel(m_sock);
    if (m_keeper)
        m_keeper->start();
}

void c_media_protocol::attach_channel(std::shared_ptr<c_tcp_sock> sock)
{
    auto pair = std::make_shared<c_socket_pair>(sock, &m_queue, &m_wake, SOCKET_KIND_MEDIA);
    if (auto* recv = static_cast<c_socket_recv_u*>(pair->recv_thread())) {
        recv->set_handler(m_handler);
        QObject::connect(recv, &c_socket_recv_u::signal_socket_u_close, recv,
                         [this] {
                             if (m_keeper)
                                 m_keeper->lost("closed by the device");
                         },
                         Qt::DirectConnection);
    }
    if (auto* send = static_cast<c_socket_send_u*>(pair->send_thread()))
        send->set_lost_handler([this] {
            if (m_keeper)
                m_keeper->lost("sending failed");
        });
    const bool reconnect = m_pair == nullptr && m_started;
    m_started = true;
    {
        std::lock_guard<std::mutex> g(m_pair_lock);
        m_sock = sock;
        m_pair = pair;
    }
    m_last_progress.store(now());
    m_queue.reset_ack();
    pair->start(QThread::HighestPriority, QThread::HighestPriority);

    m_queue.push(build_msg_50(m_user_id));
    LOG_INFO("vm send userID");
    if (!reconnect)
        return;

    // The remote computer finds its disk again: the map sequence as at map().
    std::shared_ptr<c_read_write_disk_sector_win> disk;
    uint8_t flags;
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        if (!m_mapped || !m_disk)
            return;
        disk = m_disk;
        flags = m_map_flags;
        m_read_thread = new c_read_disk_thread(&m_queue, disk);
        m_read_thread->start(QThread::InheritPriority);
    }
    LOG_INFO("media channel back: the mapped disk is announced again");
    m_queue.push(build_msg_7(0x01, 0, 0));
    QThread::msleep(m_pauses.map_gap_ms);
    m_queue.push(build_msg_7(0x01, flags, disk->sector_count()));
    request_status();
}

void c_media_protocol::detach_channel()
{
    std::shared_ptr<c_socket_pair> pair;
    {
        std::lock_guard<std::mutex> g(m_pair_lock);
        pair = std::move(m_pair);
    }
    if (pair)
        pair->stop();
    // Reads asked for on the lost connection are asked again on the new one.
    c_read_disk_thread* thread;
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        thread = m_read_thread;
        m_read_thread = nullptr;
    }
    if (thread)
    {
        thread->stop();
        thread->wait();
        delete thread;
    }
    drain_and_free(m_queue);
    m_poll_armed = false;
}

channel_state c_media_protocol::state() const
{
    if (!m_keeper || m_shut_down)
        return channel_state::lost;
    const channel_state s = m_keeper->state();
    if (s == channel_state::connected && const_cast<mt_queue<CQUEUE_MESSAGE>&>(m_queue).size() > 0 &&
        now() - m_last_progress.load() > STALL_MS)
        return channel_state::stalled;
    return s;
}

int c_media_protocol::reconnect_attempts() const
{
    return m_keeper ? m_keeper->attempts() : 0;
}

void c_media_protocol::retry()
{
    if (m_keeper)
        m_keeper->retry();
}

std::string c_media_protocol::state_reason() const
{
    return m_keeper ? m_keeper->reason() : std::string();
}

c_socket_send_u* c_media_protocol::send_thread() const
{
    return m_pair ? dynamic_cast<c_socket_send_u*>(m_pair->send_thread()) : nullptr;
}

c_socket_recv_u* c_media_protocol::recv_thread() const
{
    return m_pair ? dynamic_cast<c_socket_recv_u*>(m_pair->recv_thread()) : nullptr;
}

void c_media_protocol::shutdown()
{
    if (m_shut_down)
        return;
    m_shut_down = true;
    // No reconnection from here on; the keeper is joined before the channel's
    // threads are touched.
    if (m_keeper) {
        m_keeper->request_stop();
        m_keeper->wait();
    }

    // The pause only gives the final message time to go out; on a channel
    // that never connected, or that the device closed, nothing can. It ends
    // as soon as the device has acknowledged everything queued, the final
    // unmap last, so that closing the window does not freeze it.
    const bool connected = m_pair && m_sock && m_sock->get_handle() >= 0;
    m_queue.push(build_msg_7(0x01, 0, 0));
    if (connected)
    {
        QElapsedTimer waited;
        waited.start();
        while (m_queue.size() > 0 && waited.elapsed() < qint64(m_pauses.shutdown_send_ms))
            QThread::msleep(1);
    }
    if (m_pair)
        m_pair->stop();

    // The read thread ends before the queue is emptied, so that it cannot
    // queue anything behind the drain (those messages would never be freed).
    c_read_disk_thread* thread;
    std::shared_ptr<c_read_write_disk_sector_win> disk;
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        thread = m_read_thread;
        m_read_thread = nullptr;
        m_mapped = false;
        disk = m_disk;
    }
    if (thread)
    {
        thread->stop();
        thread->wait();
        delete thread;
    }
    drain_and_free(m_queue);
    if (disk)
        disk->close();
    m_pair.reset();
}

// ---------------------------------------------------------------- map / unmap

bool c_media_protocol::map(const std::string& path, bool read_only, std::string* error)
{
    if (is_mapped())
    {
        if (error)
            *error = "a disk is mapped already";
        return false;
    }

    auto disk = std::make_shared<c_read_write_disk_sector_win>(m_sysfs_root);
    if (!disk->open(path, read_only))
    {
        LOG_ERROR("err onMap_openLocalDisk ");
        if (error)
            *error = disk->open_error();
        return false;
    }
    auto* thread = new c_read_disk_thread(&m_queue, disk);
    thread->start(QThread::InheritPriority);
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        m_disk = disk;
        m_read_thread = thread;
    }

    m_queue.push(build_msg_7(0x01, 0, 0));
    QThread::msleep(m_pauses.map_gap_ms);
    const uint8_t flags = MAP_FLAG_MAPPED | (read_only ? MAP_FLAG_MODE : 0);
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        m_map_flags = flags;
        m_mapped_path = path;
    }
    m_read_only.store(read_only);
    m_queue.push(build_msg_7(0x01, flags, disk->sector_count()));

    {
        std::lock_guard<std::mutex> guard(m_progress_lock);
        m_sectors_requested = 0;
        m_percent = 0;
        m_complete = false;
        m_map_time = now();
        m_last_wish_time = m_map_time;
    }
    m_poll_armed = false;
    m_poll_ticks = 0;
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        m_mapped = true;
    }
    request_status();
    return true;
}

void c_media_protocol::unmap()
{
    c_read_disk_thread* thread;
    std::shared_ptr<c_read_write_disk_sector_win> disk;
    {
        // From here on the handler queues nothing more.
        std::lock_guard<std::mutex> guard(m_state_lock);
        if (!m_mapped)
            return;
        m_mapped = false;
        thread = m_read_thread;
        m_read_thread = nullptr;
        disk = m_disk;
    }
    m_poll_armed = false;

    // Waiting for the thread's end makes sure none of its read-data messages
    // lands behind the unmap message.
    if (thread)
    {
        thread->stop();
        thread->wait();
        delete thread;
    }
    // The head may be in flight: it stays for its acknowledgement, otherwise
    // that acknowledgement would be taken for the unmap message's.
    for (CQUEUE_MESSAGE& msg : m_queue.take_all_but_head())
        msg.free_data();
    m_queue.push(build_msg_7(0x01, 0, disk ? disk->sector_count() : 0));
    if (disk)
        disk->close();
}

std::string c_media_protocol::mapped_path() const
{
    std::lock_guard<std::mutex> guard(m_state_lock);
    return m_mapped ? m_mapped_path : std::string();
}

// The local disk counts what moved and what failed; a mapping's figures are its disk's.
uint64_t c_media_protocol::sectors_read() const
{
    const auto d = disk();
    return d ? d->bytes_read() / SECTOR : 0;
}

uint64_t c_media_protocol::sectors_written() const
{
    const auto d = disk();
    return d ? d->bytes_written() / SECTOR : 0;
}

uint64_t c_media_protocol::write_failures() const
{
    const auto d = disk();
    return d ? d->write_failures() : 0;
}

std::string c_media_protocol::first_write_error() const
{
    const auto d = disk();
    return d ? d->first_write_error() : std::string();
}

bool c_media_protocol::is_mapped() const
{
    std::lock_guard<std::mutex> guard(m_state_lock);
    return m_mapped;
}

std::shared_ptr<c_read_write_disk_sector_win> c_media_protocol::disk() const
{
    std::lock_guard<std::mutex> guard(m_state_lock);
    return m_disk;
}

// ---------------------------------------------------------------- status and progress

void c_media_protocol::request_status()
{
    m_queue.push(build_msg_8(0x01, 0x00));
    m_poll_ticks = 0;
    LOG_INFO("enqueue request status package");
}

void c_media_protocol::poll_tick()
{
    if (!is_mapped() || !m_poll_armed)
        return;
    if (++m_poll_ticks > POLL_TICK_LIMIT)
    {
        m_poll_armed = false;
        request_status();
    }
}

void c_media_protocol::note_read_wish(uint32_t count)
{
    std::lock_guard<std::mutex> guard(m_progress_lock);
    if (m_complete)
        return;
    m_sectors_requested += count;
    m_last_wish_time = now();
    if (m_sectors_requested >= PROGRESS_FULL_SECTORS)
    {
        m_percent = 100;
        m_complete = true;
        return;
    }
    const int percent = static_cast<int>(m_sectors_requested * 100 / PROGRESS_FULL_SECTORS);
    m_percent = percent >= 99 ? 100 : percent;
}

void c_media_protocol::progress_tick()
{
    if (!is_mapped())
        return;
    std::lock_guard<std::mutex> guard(m_progress_lock);
    if (m_complete)
        return;
    if (now() - m_last_wish_time > PROGRESS_IDLE_MS)
    {
        m_percent = 100;
        m_complete = true;
    }
}

int c_media_protocol::progress_percent() const
{
    std::lock_guard<std::mutex> guard(m_progress_lock);
    return m_percent;
}

bool c_media_protocol::progress_complete() const
{
    std::lock_guard<std::mutex> guard(m_progress_lock);
    return m_complete;
}

uint64_t c_media_protocol::sectors_requested() const
{
    std::lock_guard<std::mutex> guard(m_progress_lock);
    return m_sectors_requested;
}

int64_t c_media_protocol::ms_since_map() const
{
    std::lock_guard<std::mutex> guard(m_progress_lock);
    return now() - m_map_time;
}

// ---------------------------------------------------------------- device messages

bool c_media_protocol::head_is_last_of_batch()
{
    // Only the send thread pops, and it is waiting for this very message's
    // acknowledgement, so the head cannot change under us.
    return m_queue.size() > 0 && m_queue.front().last_flag != 0;
}

unsigned char c_media_protocol::on_net_msg(const void* /*sender*/, const unsigned char* body,
                                           unsigned int /*plain_len_field*/, unsigned int body_len)
{
    if (body == nullptr || body_len == 0)
    {
        LOG_ERROR("media message without a type byte");
        return RESULT_OK;
    }
    m_last_progress.store(now());
    const uint8_t type = body[0];
    const unsigned need = needed_length(type);
    // The first message the device answers with opens the channel, unless it
    // refuses the login.
    if (m_keeper) {
        if (type == MSG_USER_ID && body_len >= 2 && body[1] != 0)
            m_keeper->refused(c_channel_keeper::refusal_text(m_user_id));
        else
            m_keeper->opened();
    }
    if (body_len < need)
    {
        // Nothing of it is used; the message in flight is asked for again.
        LOG_ERROR("media message 0x%02x too short: %u bytes, needs %u", type, body_len, need);
        return RESULT_REFUSE;
    }

    switch (type)
    {
    case MSG_USER_ID:
        LOG_INFO("vm,, recv userID ack,value=%u", body[1]);
        return RESULT_OK;
    case MSG_MAP:
        if (body[2] == 0)
            LOG_INFO("==========mapOrUnmap ack_ok");
        else
            LOG_ERROR("err map ack_err");
        return RESULT_OK;
    case MSG_STATUS:
        return on_status_answer(body);
    case MSG_READ_DATA:
        return on_read_data_answer(body);
    case MSG_WRITE_DATA:
        return on_write_data(body);
    default:
        // It still acknowledges the message in flight, like any other.
        LOG_DEBUG("media message type 0x%02x of %u bytes ignored", type, body_len);
        return RESULT_OK;
    }
}

unsigned char c_media_protocol::on_status_answer(const unsigned char* body)
{
    const uint8_t wish = body[1];
    const uint32_t start = read_be32(body + 2);
    const uint16_t count = read_be16(body + 6);

    if (wish == WISH_READ)
    {
        LOG_DEBUG("ask ack= I want to read:%u from %u", count, start);
        {
            // The progress counts what the device asked for, served or not.
            // Between the unmap and the map message (the read thread exists,
            // the mapping is not announced yet) the same checks hold: without
            // them a few wishes there queue a sector's message for each
            // sector they name.
            std::lock_guard<std::mutex> guard(m_state_lock);
            if (m_read_thread && wish_fits_disk(start, count) && !batch_outstanding())
                m_read_thread->enqueue_read(start, count);
        }
        note_read_wish(count);
    }
    else if (wish == WISH_WRITE)
    {
        LOG_DEBUG("xxx ask ack write,start=%u,count=%u", start, count);
        std::lock_guard<std::mutex> guard(m_state_lock);
        if (!m_mapped || !wish_fits_disk(start, count) || batch_outstanding())
            return RESULT_OK;
        for (uint32_t offset = 0; offset < count; ++offset)
        {
            m_queue.push(build_msg_10(0x01, static_cast<uint16_t>(offset), offset + 1 == count ? 1 : 0));
            LOG_DEBUG("xxx enque pak10,offset=%u,count=%u", offset, count);
        }
    }
    else if (is_mapped())
    {
        LOG_DEBUG("ask ack= I want nothing");
        m_poll_armed = true;
    }
    return RESULT_OK;
}

bool c_media_protocol::batch_outstanding()
{
    // The device wishes again only after the last message of a batch has gone
    // out, so a wish while a batch is still queued (or still to be read) is
    // out of turn. Serving it would let the device grow the queue without
    // end, a sector's message for every few bytes it sends. It is asked again
    // after the poll's pause instead.
    // Pending first: a batch leaves the read thread's count only once all of
    // it is queued, so the queue read after that holds all of it.
    const int pending = m_read_thread ? m_read_thread->pending() : 0;
    const int queued = m_queue.size();
    if (queued <= WISH_BACKLOG_LIMIT && pending == 0)
        return false;
    LOG_ERROR("wish out of turn not served: %d messages queued, %d reads waiting; status asked again later", queued,
              pending);
    m_poll_armed = true;
    return true;
}

bool c_media_protocol::wish_fits_disk(uint32_t start, uint32_t count)
{
    // A wish the disk cannot serve would get no answer at all (nothing is
    // read or fetched), and the device waits for one that never comes while
    // nothing asks it again: the whole virtual disk would stand still. The
    // device is asked again after the poll's pause instead.
    const uint32_t sectors = m_disk ? m_disk->sector_count() : 0;
    if (count > 0 && uint64_t(start) + count <= sectors)
        return true;
    LOG_ERROR("wish of %u sectors from %u not served: the disk has %u sectors; status asked again later", count, start,
              sectors);
    m_poll_armed = true;
    return false;
}

unsigned char c_media_protocol::on_read_data_answer(const unsigned char* body)
{
    const uint8_t sector_type = body[1];
    const uint8_t result = body[2];
    if (result != 0 || sector_type == 0)
    {
        LOG_ERROR("err readDisk_ack_err, pack type: %u,pack result: %u", sector_type, result);
        return RESULT_REFUSE;
    }
    {
        std::lock_guard<std::mutex> guard(m_state_lock);
        if (m_mapped && head_is_last_of_batch())
            request_status();
    }
    LOG_DEBUG("readDisk_ack_ok");
    return RESULT_OK;
}

unsigned char c_media_protocol::on_write_data(const unsigned char* body)
{
    const uint32_t start = read_be32(body + 2);
    const uint16_t offset = read_be16(body + 6);
    if (start == 0xFFFFFFFFu)
    {
        LOG_INFO("got 0xffffffff start index");
        return RESULT_REFUSE;
    }
    LOG_DEBUG("xxx pak10 ack ok,get buf,start:%u, offset\xEF\xBC\x9A%u", start, offset);

    // start + offset past 32 bits names no sector: it must not wrap to the
    // start of the disk.
    const uint64_t sector = static_cast<uint64_t>(start) + offset;
    const std::shared_ptr<c_read_write_disk_sector_win> disk = this->disk();
    if (!disk || sector > 0xFFFFFFFFu || !disk->seek(static_cast<uint32_t>(sector)))
    {
        LOG_ERROR("pak10 ack,writeDisk_setPoint err");
    }
    else
    {
        uint32_t written = 0;
        if (!disk->write(body + 8, SECTOR, &written))
            LOG_ERROR("pak10 ack,writeDisk_writeDisk err, error code is %d", errno);
        else if (written != SECTOR)
            LOG_ERROR("pak10 ack,writeDisk_writeDisk err,re_len!=512");
        else
            LOG_DEBUG("xxx1207 pak10 ack,writeDisk_OK");
    }

    std::lock_guard<std::mutex> guard(m_state_lock);
    if (m_mapped && head_is_last_of_batch())
    {
        LOG_INFO("is last pak will resend");
        request_status();
    }
    return RESULT_OK;
}
