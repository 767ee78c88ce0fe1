#pragma once
// The video channel without any widget: its connection and thread pair, the
// routing of the device's video messages, the decoding pipeline and the
// hand-over of the newest picture, and reconnection after a loss. A new
// connection gets a new pipeline (the device starts a new stream with a key
// frame); the GUI takes pictures from whichever pipeline() is current.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/socket/CQUEUE_MESSAGE.h"
#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/c_wake_up.h"
#include "tools/socket/mt_queue.h"
#include "tools/socket/recent_samples.h"

class c_tcp_sock;
class c_socket_pair;
class c_video_pipeline;

class c_video_channel : public c_abs_net_handler
{
public:
    struct config
    {
        std::string ip;
        uint16_t port = 0;
        uint32_t user_id = 0;
        uint8_t in_key[8] = {};
    };

    enum : unsigned char
    {
        STATUS_HANDLED = 0,
        STATUS_BAD_LENGTH = 3
    };
    static constexpr int CONNECT_TIMEOUT_MS = 2000;

    explicit c_video_channel(const config& cfg);
    ~c_video_channel() override;

    c_video_channel(const c_video_channel&) = delete;
    c_video_channel& operator=(const c_video_channel&) = delete;

    // First connection, within 2000 ms. False: error_text() says why.
    bool connect();
    std::string error_text() const { return m_error; }

    // Receive thread callbacks; set before start().
    void set_picture_handler(std::function<void()> fn) { m_on_picture = std::move(fn); }
    void set_led_handler(std::function<void(uint8_t)> fn) { m_on_led = std::move(fn); }
    // Called with each new pipeline (at start, then on the reconnecting
    // thread) before any picture reaches it.
    void set_pipeline_handler(std::function<void(const std::shared_ptr<c_video_pipeline>&)> fn)
    {
        m_on_pipeline = std::move(fn);
    }
    void set_state_handler(c_channel_keeper::state_fn fn) { m_on_state = std::move(fn); }

    // Starts both threads and reconnection, queues the user id message.
    void start();
    void stop();

    // The pipeline of the current connection (never null after start()).
    std::shared_ptr<c_video_pipeline> pipeline() const;
    // Messages to the device (picture position requests).
    mt_queue<CQUEUE_MESSAGE>& send_queue() { return m_send_queue; }

    channel_state state() const;
    int reconnect_attempts() const;
    // After a refused login: connect again.
    void retry();
    // Totals since start, for the statistics.
    uint64_t bytes_received() const { return m_bytes.load(); }
    uint64_t pictures_received() const { return m_pictures.load(); }
    // Microseconds since the last byte of the newest picture handed over
    // arrived (-1 before the first): read when that picture is shown.
    int64_t us_since_last_picture_byte() const;
    // Median time spent decoding a picture's last message over the last
    // second, in microseconds (-1: none).
    int64_t decode_median_us() const;

    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plain_len_field,
                             unsigned int body_len) override;

private:
    void attach(std::shared_ptr<c_tcp_sock> sock);
    void detach();
    unsigned char handle(const unsigned char* body, unsigned int len);

    const config m_cfg;
    std::string m_error;
    std::function<void()> m_on_picture;
    std::function<void(uint8_t)> m_on_led;
    std::function<void(const std::shared_ptr<c_video_pipeline>&)> m_on_pipeline;
    c_channel_keeper::state_fn m_on_state;

    std::shared_ptr<c_tcp_sock> m_first_sock;
    std::unique_ptr<c_socket_pair> m_pair;  // keeper thread and owner only
    mt_queue<CQUEUE_MESSAGE> m_send_queue;
    c_wake_up m_send_wake;
    std::unique_ptr<c_channel_keeper> m_keeper;

    mutable std::mutex m_pipeline_lock;
    std::shared_ptr<c_video_pipeline> m_pipeline;

    std::atomic<uint64_t> m_bytes{0};
    std::atomic<uint64_t> m_pictures{0};
    std::atomic<int64_t> m_last_picture_ns{-1};
    recent_samples m_decode_us;
};
