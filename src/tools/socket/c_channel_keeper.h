#pragma once
// Keeps one channel connected for as long as its owner wants it: when the
// channel reports a loss, this thread takes the channel's threads down, then
// connects again with a growing pause between attempts (0.5 s doubling up to
// 5 s) and hands the new connection back to the channel, which replays its
// opening. The keeper is the only thread that stops, joins and restarts the
// channel's threads after the start, so there is one owner for them.
//
// A connection counts as up only once the device has answered its opening
// (opened()). One that closes before that does not reset the pause: a device
// that accepts and closes at once (a wrong key, an unknown user) would
// otherwise be connected to thousands of times a second. A refused login
// (refused()) is not tried again until retry().
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tools/socket/c_abs_thread.h"
#include "tools/socket/c_wake_up.h"

class c_tcp_sock;

enum class channel_state : int
{
    connected = 0,
    reconnecting,  // lost; attempts to connect again are running
    stalled,       // connected, but the device has not read or answered for a while
    lost,          // gone and not tried again (no keeper, or stopped)
    opening,       // connected; the device has not answered the opening yet
    refused,       // the device refused the login; not tried again until asked
};

const char* channel_state_name(channel_state s);

// "127.0.0.1:5917 — Connection refused" (the system's text for err; a time-out
// when err is 0 or ETIMEDOUT). An IPv6 address is written in brackets.
std::string endpoint_error_text(const std::string& ip, unsigned port, int err);

// A connection to ip:port within timeout_ms; null with *error set (the text
// above) when it failed.
std::shared_ptr<c_tcp_sock> connect_endpoint(const std::string& ip, uint16_t port, int timeout_ms,
                                             std::string* error);

class c_channel_keeper : public c_abs_thread
{
    Q_OBJECT
public:
    struct hooks
    {
        // Stops and joins the channel's threads and empties its queues.
        std::function<void()> detach;
        // Starts the channel on a connected socket and queues its opening.
        std::function<void(std::shared_ptr<c_tcp_sock>)> attach;
    };
    using state_fn = std::function<void(channel_state, int attempt, const std::string& reason)>;

    c_channel_keeper(std::string name, std::string ip, uint16_t port, hooks h);
    // Stops and joins the thread.
    ~c_channel_keeper() override;

    // Called (any thread) whenever the state changes; set before start().
    void set_state_handler(state_fn fn) { m_on_state = std::move(fn); }

    // Before start(): the owner's first connect failed; the keeper tries
    // again in the background, after the first pause.
    void first_connect_failed(const std::string& reason);
    // Any thread: the channel is gone (peer close, reset, receive or send
    // error, no answer). Repeated reports of one loss count once.
    void lost(const std::string& reason);
    // Any thread: the device answered the current connection's opening; the
    // channel is up. Repeated calls count once.
    void opened();
    // Any thread: the device refused the login (reason says so). The
    // connection is taken down and not made again until retry(). Ignored
    // once the channel is up.
    void refused(const std::string& reason);
    // Any thread: connect again after a refusal; nothing otherwise.
    void retry();
    // Any thread: no more attempts; the thread ends soon after.
    void request_stop();

    channel_state state() const { return channel_state(m_state.load()); }
    int attempts() const { return m_attempt.load(); }
    // The reason given with the last state change.
    std::string reason() const;
    // Connections in a row that the device closed before answering the opening.
    int early_closes() const { return m_early.load(); }
    const std::string& name() const { return m_name; }

    // Pause before attempt n (1-based).
    static int backoff_ms(int attempt);
    // After this many early closes in a row the reason becomes WRONG_KEY_HINT.
    static constexpr int WRONG_KEY_AFTER = 3;
    // "the device refused the login of user N"
    static std::string refusal_text(uint32_t user_id);
    static const char* const WRONG_KEY_HINT;

protected:
    void run() override;

private:
    void set_state(channel_state s, const std::string& reason);
    void set_state_locked(channel_state s, const std::string& reason);
    // Pauses for the current step's backoff; false when stopped meanwhile.
    bool pause();
    // Connects until it succeeds (true) or the keeper is stopped.
    bool connect_again(std::string reason);

    const std::string m_name;
    const std::string m_ip;
    const uint16_t m_port;
    hooks m_hooks;
    state_fn m_on_state;
    // Per-attempt connect time-out; short, so that a stop is never held up long.
    static constexpr int k_connect_timeout_ms = 1000;

    c_wake_up m_wake;
    std::atomic<bool> m_run{true};
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_refused{false};  // the loss reported is a refusal
    std::atomic<bool> m_retry{false};
    std::atomic<int> m_state{int(channel_state::opening)};
    std::atomic<int> m_attempt{0};
    // Whether a connection is attached, and whether its opening was answered.
    std::atomic<bool> m_attached{true};
    std::atomic<bool> m_opened{false};
    // Backoff step: grows with each failed connect and each early close, back
    // to 0 once a connection is up.
    int m_step = 0;  // keeper thread
    std::atomic<int> m_early{0};
    bool m_hint_logged = false;  // keeper thread
    mutable std::mutex m_state_lock;  // orders state changes from the keeper and the receive thread
    std::string m_state_reason;       // m_state_lock
    std::mutex m_reason_lock;
    std::string m_reason;
};
