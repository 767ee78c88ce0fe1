#include "tools/socket/c_channel_keeper.h"

#include <cerrno>
#include <cstring>

#include "log/log.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

const char* channel_state_name(channel_state s)
{
    switch (s) {
    case channel_state::connected:
        return "connected";
    case channel_state::reconnecting:
        return "reconnecting";
    case channel_state::stalled:
        return "stalled";
    case channel_state::lost:
        return "lost";
    case channel_state::opening:
        return "opening";
    case channel_state::refused:
        return "refused";
    }
    return "?";
}

namespace {

// "host:port", an IPv6 address in brackets.
std::string endpoint_text(const std::string& ip, unsigned port)
{
    const bool v6 = ip.find(':') != std::string::npos;
    return (v6 ? "[" + ip + "]" : ip) + ":" + std::to_string(port);
}

}  // namespace

std::string endpoint_error_text(const std::string& ip, unsigned port, int err)
{
    std::string text = endpoint_text(ip, port) + " \u2014 ";
    if (err == 0 || err == ETIMEDOUT)
        return text + "no answer (connection timed out)";
    return text + std::strerror(err);
}

std::shared_ptr<c_tcp_sock> connect_endpoint(const std::string& ip, uint16_t port, int timeout_ms,
                                             std::string* error)
{
    auto sock = std::make_shared<c_tcp_sock>();
    sock->startup();
    sock->set_address(ip.c_str(), port);
    if (sock->create_sock(nullptr, 0, timeout_ms) == 1)
        return sock;
    if (error) {
        if (!sock->resolve_error().empty())
            *error = endpoint_text(ip, port) + " \u2014 " + sock->resolve_error();
        else
            *error = endpoint_error_text(ip, port, sock->runtime_error());
    }
    return nullptr;
}

const char* const c_channel_keeper::WRONG_KEY_HINT =
    "the device closes the connection right after the opening: the key or the user in the launch string may be wrong";

c_channel_keeper::c_channel_keeper(std::string name, std::string ip, uint16_t port, hooks h)
    : m_name(std::move(name)), m_ip(std::move(ip)), m_port(port), m_hooks(std::move(h))
{
}

c_channel_keeper::~c_channel_keeper()
{
    request_stop();
    wait();
}

int c_channel_keeper::backoff_ms(int attempt)
{
    int ms = 500;
    for (int i = 1; i < attempt && ms < 5000; ++i)
        ms *= 2;
    return ms < 5000 ? ms : 5000;
}

std::string c_channel_keeper::refusal_text(uint32_t user_id)
{
    return "the device refused the login of user " + std::to_string(user_id);
}

void c_channel_keeper::first_connect_failed(const std::string& reason)
{
    std::lock_guard<std::mutex> g(m_reason_lock);
    std::lock_guard<std::mutex> gs(m_state_lock);
    m_reason = reason;
    m_attached.store(false);
    m_step = 1;  // the first connect was the first attempt
    m_attempt.store(1);
    m_state.store(int(channel_state::reconnecting));
    m_state_reason = reason;
    m_lost.store(true);
}

void c_channel_keeper::lost(const std::string& reason)
{
    {
        std::lock_guard<std::mutex> g(m_reason_lock);
        if (m_lost.load())
            return;
        m_reason = reason;
        m_lost.store(true);
    }
    m_wake.wake_all();
}

void c_channel_keeper::refused(const std::string& reason)
{
    // The device answers the user id once, as the opening's answer: a refusal
    // on a channel that is up already is noise, not a verdict.
    if (m_opened.load())
        return;
    {
        std::lock_guard<std::mutex> g(m_reason_lock);
        if (m_lost.load())
            return;
        m_reason = reason;
        m_refused.store(true);
        m_lost.store(true);
    }
    m_wake.wake_all();
}

void c_channel_keeper::opened()
{
    std::lock_guard<std::mutex> g(m_state_lock);
    if (!m_attached.load() || m_opened.exchange(true) || state() != channel_state::opening)
        return;
    m_early.store(0);
    set_state_locked(channel_state::connected, std::string());
}

void c_channel_keeper::retry()
{
    if (state() != channel_state::refused)
        return;
    m_retry.store(true);
    m_wake.wake_all();
}

void c_channel_keeper::request_stop()
{
    m_run.store(false);
    m_wake.wake_all();
}

void c_channel_keeper::set_state(channel_state s, const std::string& reason)
{
    std::lock_guard<std::mutex> g(m_state_lock);
    set_state_locked(s, reason);
}

std::string c_channel_keeper::reason() const
{
    std::lock_guard<std::mutex> g(m_state_lock);
    return m_state_reason;
}

void c_channel_keeper::set_state_locked(channel_state s, const std::string& reason)
{
    m_state.store(int(s));
    m_state_reason = reason;
    if (m_on_state)
        m_on_state(s, m_attempt.load(), reason);
}

bool c_channel_keeper::pause()
{
    const unsigned long t = m_wake.ticket();
    if (m_step > 0 && m_run.load())
        m_wake.wait_from(t, unsigned(backoff_ms(m_step)));
    return m_run.load();
}

bool c_channel_keeper::connect_again(std::string reason)
{
    while (pause()) {
        m_attempt.fetch_add(1);
        set_state(channel_state::reconnecting, reason);
        std::string why;
        const std::shared_ptr<c_tcp_sock> sock = connect_endpoint(m_ip, m_port, k_connect_timeout_ms, &why);
        if (sock) {
            if (!m_run.load())
                return false;
            LOG_INFO("%s channel connected again after %d attempt(s)", m_name.c_str(), m_attempt.load());
            // Opening before the attach: the answer may come at once.
            m_opened.store(false);
            set_state(channel_state::opening, std::string());
            m_attached.store(true);
            if (m_hooks.attach)
                m_hooks.attach(sock);
            return true;
        }
        // The hint stays while it holds; otherwise the newest reason shows.
        if (m_early.load() < WRONG_KEY_AFTER)
            reason = why;
        ++m_step;
    }
    return false;
}

void c_channel_keeper::run()
{
    while (m_run.load()) {
        const unsigned long ticket = m_wake.ticket();
        if (m_retry.exchange(false) && state() == channel_state::refused) {
            LOG_INFO("%s channel: connecting again as asked", m_name.c_str());
            m_step = 0;
            m_attempt.store(0);
            m_early.store(0);
            connect_again(std::string());
            continue;
        }
        if (!m_lost.load()) {
            // Nothing to do until a loss, a retry or a stop: no time-out needed.
            m_wake.wait_from(ticket, 60000);
            continue;
        }
        std::string reason;
        {
            std::lock_guard<std::mutex> g(m_reason_lock);
            reason = m_reason;
        }
        const bool refusal = m_refused.exchange(false);
        const bool attached = m_attached.load();
        const bool early = attached && !m_opened.load();
        if (m_hooks.detach)
            m_hooks.detach();
        m_attached.store(false);
        // Reports from the threads just stopped belong to the loss handled here.
        m_lost.store(false);

        if (refusal) {
            LOG_WARN("%s channel: %s; not tried again until asked", m_name.c_str(), reason.c_str());
            m_attempt.store(0);
            set_state(channel_state::refused, reason);
            continue;
        }
        if (early) {
            ++m_step;
            const int n = m_early.fetch_add(1) + 1;
            if (n >= WRONG_KEY_AFTER) {
                if (!m_hint_logged)
                    LOG_WARN("%s channel: %s (%d connections in a row closed before the device answered)",
                             m_name.c_str(), WRONG_KEY_HINT, n);
                m_hint_logged = true;
                reason = WRONG_KEY_HINT;
            } else {
                LOG_WARN("%s channel closed before the device answered its opening (%s): reconnecting",
                         m_name.c_str(), reason.c_str());
            }
        } else {
            LOG_WARN("%s channel lost (%s): reconnecting", m_name.c_str(), reason.c_str());
            if (attached) {
                // It was up: start again from the shortest pause.
                m_step = 0;
                m_attempt.store(0);
                m_early.store(0);
            }
        }
        set_state(channel_state::reconnecting, reason);
        connect_again(reason);
    }
    if (state() != channel_state::connected)
        m_state.store(int(channel_state::lost));
}
