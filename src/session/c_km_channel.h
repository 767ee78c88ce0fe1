#pragma once
// The KM channel without any widget: its connection, the receive thread, a
// send thread of its own (so input never waits on another channel), the send
// list with its 200 ms answer wait, the keep-alive, the hand-off of privilege
// requests to the GUI thread, and reconnection after a loss.
//
// Owner's thread (the GUI thread in the viewer): connect(), start(), stop().
// Any thread: send(), prepend(), clear(). The receive thread calls the
// message handler with every device message.
#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_abs_thread.h"
#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/c_event.h"
#include "tools/socket/c_wake_up.h"
#include "tools/socket/recent_samples.h"

class c_tcp_sock;
class c_socket_recv_km1;
class c_km_sender;

class c_km_channel : public c_abs_net_handler
{
public:
    struct config
    {
        std::string ip;
        uint16_t port = 0;
        uint32_t user_id = 0;
        uint8_t out_key[8] = {};  // enciphers what the viewer sends
        uint8_t in_key[8] = {};   // deciphers what the device sends
        bool absolute_mouse = false;
        // The device's protocol times these; tests shorten them.
        int keepalive_period_ms = 10000;
        // A device that has answered keep-alives and then stays silent this
        // long is gone, even when the network still takes our bytes.
        int keepalive_loss_ms = 30000;
    };

    static constexpr unsigned ANSWER_WAIT_MS = 200;
    // Messages unanswered this long make the device "late": input is delayed.
    static constexpr int ANSWER_LATE_MS = 2000;
    static constexpr int CONNECT_TIMEOUT_MS = 2000;

    using message_fn = std::function<void(const unsigned char* body, unsigned plain_len_field, unsigned len)>;

    explicit c_km_channel(const config& cfg);
    ~c_km_channel() override;

    c_km_channel(const c_km_channel&) = delete;
    c_km_channel& operator=(const c_km_channel&) = delete;

    // First connection, within 2000 ms. False: error_text() says why.
    bool connect();
    std::string error_text() const { return m_error; }

    // Set before start(). The message handler runs on the receive thread.
    void set_message_handler(message_fn fn) { m_on_message = std::move(fn); }
    void set_state_handler(c_channel_keeper::state_fn fn) { m_on_state = std::move(fn); }
    // Called (send or receive thread) when answers_late() changes.
    void set_answer_state_handler(std::function<void()> fn) { m_on_answer_state = std::move(fn); }
    // Messages have waited ANSWER_LATE_MS without any answer; false again at the next answer.
    bool answers_late() const { return m_answers_late.load(); }

    // Starts the receive thread, the send thread (unless own_sender is false:
    // tests then call flush_one() themselves) and reconnection; queues the
    // opening (user id, then the privilege state request).
    void start(bool own_sender = true);
    // Ends every thread of the channel; idempotent.
    void stop();

    // Frames (and enciphers, except type 50) one message and appends it.
    // While the channel is down nothing is queued: input typed then would
    // reach the remote computer late and out of context. A pointer report
    // joins one of the same buttons still waiting last in the list (absolute:
    // the newest position; relative: the movements added, split beyond the
    // report's range); an absolute one without buttons replaces plain
    // relative movements waiting last. False when dropped.
    bool send(unsigned char type, int length, const unsigned char* payload);
    // The same, returning the message's sequence number (0 when dropped), so
    // a sender can follow it through progress().
    uint64_t send_counted(unsigned char type, int length, const unsigned char* payload);

    // The device took a message once it was written and then answered, or
    // the wait for the answer ended with the connection still standing.
    // Messages leave in order, so "taken" is a single sequence number; every
    // loss of the connection and every clear() that drops what waits counts
    // in losses.
    uint64_t taken_seq() const { return m_taken_seq.load(); }
    uint64_t losses() const { return m_losses.load(); }
    // Called on the channel's threads after each message taken (with the
    // losses counted when it was sent) and after each loss. A message sent
    // before a loss is reported before that loss. May be set at any time.
    using progress_fn = std::function<void(uint64_t taken_seq, uint64_t losses)>;
    void set_progress_handler(progress_fn fn);
    // Frames a message with the one-byte payload 0 and puts it first.
    void prepend(unsigned char type);
    void clear();
    std::vector<std::vector<uint8_t> > queued() const;
    size_t queue_length() const;
    bool keyboard_report_queued() const;

    // Sends at most one queued message and waits up to 200 ms for the
    // device's answer (not for keep-alive, give-up and grab acknowledgements).
    // True when it took one from the list.
    bool flush_one();

    // Receive thread: runs fn on context's thread and waits for it to return
    // (or for the channel to stop), so nothing else is read from the channel
    // meanwhile, as the privilege protocol expects.
    void hand_off(QObject* context, std::function<void()> fn);

    channel_state state() const;
    int reconnect_attempts() const;
    // After a refused login: connect again.
    void retry();
    // Median answer round trip of the last second, in microseconds (-1: none).
    int64_t answer_rtt_median_us() const;

    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plain_len_field,
                             unsigned int body_len) override;


private:
    friend class c_km_sender;
    void attach(std::shared_ptr<c_tcp_sock> sock, bool reconnect);
    void detach();
    void queue_opening(bool reconnect);
    uint64_t push_back_frame(std::vector<uint8_t> frame);
    void notify_progress(uint64_t taken, uint64_t losses);
    void note_abs_position(const unsigned char* payload, int length);
    void check_keepalive(int64_t now_ms);
    // Receive thread: the opening's answers open the channel; 50 01 refuses it.
    void note_opening_answer(const unsigned char* body, unsigned int body_len);
    // Receive thread: any message is an answer; the device is not late any more.
    void note_answer();
    static int64_t now_ms();

    const config m_cfg;
    std::string m_error;
    message_fn m_on_message;
    c_channel_keeper::state_fn m_on_state;
    std::function<void()> m_on_answer_state;

    std::shared_ptr<c_tcp_sock> m_first_sock;
    mutable std::mutex m_sock_lock;  // guards m_sock and m_recv
    std::shared_ptr<c_tcp_sock> m_sock;
    std::unique_ptr<c_socket_recv_km1> m_recv;
    std::unique_ptr<c_km_sender> m_sender;
    std::unique_ptr<c_channel_keeper> m_keeper;
    std::atomic<bool> m_up{false};  // queued messages may leave
    std::atomic<bool> m_stopping{false};

    mutable std::mutex m_queue_lock;
    struct queued_frame
    {
        std::vector<uint8_t> bytes;
        uint64_t seq = 0;  // 0: put first (keep-alive, opening)
    };
    std::list<queued_frame> m_queue;
    uint64_t m_next_seq = 0;  // m_queue_lock
    std::atomic<uint64_t> m_taken_seq{0};
    std::atomic<uint64_t> m_losses{0};
    std::atomic<bool> m_device_answered{false};
    std::mutex m_progress_lock;
    std::mutex m_flush_lock;  // held while one message is sent and answered
    progress_fn m_on_progress;
    // The last queued message is a pointer report of m_tail_type with this
    // payload, still waiting (m_queue_lock).
    bool m_tail_pointer = false;
    unsigned char m_tail_type = 0;
    std::array<unsigned char, 6> m_tail_payload{};
    // How many of the last queued messages are plain relative movements
    // (no buttons, no wheel), still waiting (m_queue_lock).
    size_t m_tail_moves = 0;
    // Whether the last queued report changes the buttons; the buttons of the
    // last relative and absolute reports queued (m_queue_lock).
    bool m_tail_changes_buttons = false;
    std::array<unsigned char, 2> m_last_buttons{};
    c_wake_up m_wake;

    std::atomic<bool> m_awaiting{false};
    c_event m_answer{true, false};
    bool m_answer_missed = false;  // send thread only
    std::atomic<int64_t> m_unanswered_since_ms{0};  // first send waiting for an answer; 0: none
    std::atomic<bool> m_answers_late{false};

    std::atomic<int64_t> m_last_keepalive_answer_ms{0};
    std::atomic<bool> m_keepalive_answered{false};
    std::atomic<bool> m_userid_answered{false};
    std::atomic<bool> m_privilege_answered{false};
    std::atomic<int> m_opening_answers{0};
    std::atomic<bool> m_abs_known{false};
    std::atomic<int> m_last_abs_x{0};
    std::atomic<int> m_last_abs_y{0};

    recent_samples m_rtts;  // answer round trips, us
};

// The channel's send thread: sends the list one message at a time whenever
// woken, and every 10 s puts the keep-alive first, however long the list.
class c_km_sender : public c_abs_thread
{
    Q_OBJECT
public:
    explicit c_km_sender(c_km_channel& ch) : m_ch(ch) {}
    ~c_km_sender() override
    {
        request_stop();
        wait();
    }
    void request_stop()
    {
        m_run.store(false);
        m_ch.m_wake.wake_all();
        m_ch.m_answer.set();
    }

protected:
    void run() override;

private:
    c_km_channel& m_ch;
    std::atomic<bool> m_run{true};
};
