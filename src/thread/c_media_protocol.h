#pragma once
// The media channel's client side without any widget: the connection and its
// two threads, the send queue, the local disk and its read thread, the
// handler of every device message, status requests, the status poll and the
// mapping progress. The virtual media dialog drives it from its buttons and
// timers; tests and fuzzers drive it directly.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_wake_up.h"
#include "tools/socket/mt_queue.h"

class c_tcp_sock;
class c_socket_pair;
class c_socket_send_u;
class c_socket_recv_u;
class c_channel_keeper;
enum class channel_state : int;
class c_read_disk_thread;
class c_read_write_disk_sector_win;

class c_media_protocol : public c_abs_net_handler
{
public:
    // Monotonic milliseconds; injectable so that progress can be tested without waiting.
    using clock_fn = std::function<int64_t()>;

    enum : uint8_t
    {
        MSG_USER_ID = 0x32,
        MSG_MAP = 0x07,
        MSG_STATUS = 0x08,
        MSG_READ_DATA = 0x09,
        MSG_WRITE_DATA = 0x0A,

        MAP_FLAG_MAPPED = 0x01,
        MAP_FLAG_MODE = 0x80,

        WISH_READ = 1,
        WISH_WRITE = 2,

        RESULT_OK = 0,
        RESULT_REFUSE = 5  // the message in flight is sent again
    };

    static constexpr uint64_t PROGRESS_FULL_SECTORS = 30000;
    static constexpr int64_t PROGRESS_IDLE_MS = 5000;
    static constexpr int POLL_TICK_LIMIT = 10;  // the status request goes on the tick after this many
    // A read or write wish is served only when at most this many messages are
    // queued and the disk read thread has nothing left to take: the previous
    // batch has gone out.
    static constexpr int WISH_BACKLOG_LIMIT = 16;
    static constexpr int CONNECT_TIMEOUT_MS = 2000;
    static constexpr uint16_t DEFAULT_PORT = 5918;

    // The fixed pauses of map and shutdown; tests may shorten them.
    struct pauses
    {
        unsigned map_gap_ms = 200;        // between the unmap and the map message
        unsigned shutdown_send_ms = 500;  // at most, for the final unmap to be acknowledged
    };

    explicit c_media_protocol(clock_fn clock = clock_fn(), std::string sysfs_root = "/sys");
    // Runs shutdown() when it has not run yet.
    ~c_media_protocol() override;

    c_media_protocol(const c_media_protocol&) = delete;
    c_media_protocol& operator=(const c_media_protocol&) = delete;

    void set_pauses(const pauses& p) { m_pauses = p; }

    // Connects to the device within 2000 ms (port 0 means 5918). False when
    // the connection failed; start_channel() may still follow.
    bool connect_channel(const char* ip, uint16_t port);
    // Creates and starts both threads at the highest priority (on whatever
    // socket there is), then queues the user identification. The receive
    // thread hands device messages to handler (this object when null), which
    // must pass them on to on_net_msg() here and outlive the channel. A
    // channel that connected is connected again whenever it is lost, and
    // finds its disk mapped again.
    void start_channel(uint32_t user_id, c_abs_net_handler* handler = nullptr);
    // connected, reconnecting, stalled (nothing read or acknowledged for
    // STALL_MS while messages wait), or lost (never connected, or shut down).
    channel_state state() const;
    int reconnect_attempts() const;
    // Why the channel is down (or refused); empty while it is up.
    std::string state_reason() const;
    // After a refused login: connect again.
    void retry();
    // Why the first connect failed: "<address>:<port> — <the system's reason>".
    const std::string& connect_error() const { return m_connect_error; }
    static constexpr int64_t STALL_MS = 10000;
    // Totals since start, for the statistics.
    uint64_t sectors_read() const;
    uint64_t sectors_written() const;
    uint64_t write_failures() const;
    bool read_only() const { return m_read_only.load(); }
    std::string mapped_path() const;
    std::string first_write_error() const;
    c_socket_send_u* send_thread() const;
    c_socket_recv_u* recv_thread() const;
    // Final unmap message, channel stop, queue emptied, read thread ended,
    // disk closed. Runs once.
    void shutdown();

    // Opens the disk at path (read-only when asked: the device's writes then
    // fail locally and the map flags carry the mode bit) and announces it.
    // False when already mapped or when the disk does not open; error, when
    // given, then says why.
    bool map(const std::string& path, bool read_only, std::string* error = nullptr);
    // Ends the read thread, drops every message not yet sent, announces the
    // unmap and closes the disk. Nothing happens while not mapped.
    void unmap();
    bool is_mapped() const;

    // Queues a status request and clears the poll counter.
    void request_status();
    // 50 ms timer: an armed poll sends a status request on the 11th tick.
    void poll_tick();
    bool poll_armed() const { return m_poll_armed.load(); }
    // 300 ms timer: progress completes after 5 s without a read wish.
    void progress_tick();
    int progress_percent() const;
    bool progress_complete() const;
    uint64_t sectors_requested() const;
    int64_t ms_since_map() const;

    mt_queue<CQUEUE_MESSAGE>& queue() { return m_queue; }
    std::shared_ptr<c_read_write_disk_sector_win> disk() const;

    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plain_len_field,
                             unsigned int body_len) override;

private:
    unsigned char on_status_answer(const unsigned char* body);
    // With m_state_lock held: whether a read or write wish lies on the mapped
    // disk; if not, it is logged and the status poll armed.
    bool wish_fits_disk(uint32_t start, uint32_t count);
    // With m_state_lock held: whether an earlier batch is still queued or to be
    // read; if so, it is logged and the status poll armed.
    bool batch_outstanding();
    unsigned char on_read_data_answer(const unsigned char* body);
    unsigned char on_write_data(const unsigned char* body);
    bool head_is_last_of_batch();
    void note_read_wish(uint32_t count);
    int64_t now() const;
    // Keeper thread: the channel's threads down, the queue emptied; then up
    // again on a new connection with its opening replayed.
    void detach_channel();
    void attach_channel(std::shared_ptr<c_tcp_sock> sock);

    clock_fn m_clock;
    const std::string m_sysfs_root;
    pauses m_pauses;

    // Channel.
    std::shared_ptr<c_tcp_sock> m_sock;
    std::shared_ptr<c_socket_pair> m_pair;
    mt_queue<CQUEUE_MESSAGE> m_queue;
    c_wake_up m_wake;
    bool m_shut_down = false;
    bool m_started = false;
    uint32_t m_user_id = 0;
    c_abs_net_handler* m_handler = nullptr;
    std::string m_ip;
    uint16_t m_port = 0;
    std::string m_connect_error;
    std::mutex m_pair_lock;  // m_pair and m_sock between the owner and the keeper
    std::unique_ptr<c_channel_keeper> m_keeper;
    std::atomic<int64_t> m_last_progress{0};
    std::atomic<bool> m_read_only{false};
    uint8_t m_map_flags = 0;
    std::string m_mapped_path;  // m_state_lock

    // Mapping state, shared by the GUI thread and the receive thread. Held
    // while the handler queues messages, so that nothing the device asked for
    // before an unmap is queued after the unmap message.
    mutable std::mutex m_state_lock;
    std::shared_ptr<c_read_write_disk_sector_win> m_disk;
    c_read_disk_thread* m_read_thread = nullptr;
    bool m_mapped = false;

    // Status poll.
    std::atomic<bool> m_poll_armed{false};
    std::atomic<int> m_poll_ticks{0};

    // Mapping progress.
    mutable std::mutex m_progress_lock;
    uint64_t m_sectors_requested = 0;
    int m_percent = 0;
    bool m_complete = false;
    int64_t m_map_time = 0;
    int64_t m_last_wish_time = 0;
};
