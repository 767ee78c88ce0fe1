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
    }
    return "?";
}

std::string endpoint_error_text(const std::string& ip, unsigned port, int err)
{
    std::string text = ip + ":" + std::to_string(port) + " \u2014 ";
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
    if (error)
        *error = endpoint_error_text(ip, port, sock->runtime_error());
    return nullptr;
}

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

void c_channel_keeper::request_stop()
{
    m_run.store(false);
    m_wake.wake_all();
}

void c_channel_keeper::set_state(channel_state s, const std::string& reason)
{
    m_state.store(int(s));
    if (m_on_state)
        m_on_state(s, m_attempt.load(), reason);
}

void c_channel_keeper::run()
{
    while (m_run.load()) {
        const unsigned long ticket = m_wake.ticket();
        if (!m_lost.load()) {
            // Nothing to do until a loss or a stop: no time-out needed.
            m_wake.wait_from(ticket, 60000);
            continue;
        }
        std::string reason;
        {
            std::lock_guard<std::mutex> g(m_reason_lock);
            reason = m_reason;
        }
        LOG_WARN("%s channel lost (%s): reconnecting", m_name.c_str(), reason.c_str());
        m_attempt.store(0);
        set_state(channel_state::reconnecting, reason);
        if (m_hooks.detach)
            m_hooks.detach();
        // Reports from the threads just stopped belong to the loss handled here.
        m_lost.store(false);

        while (m_run.load()) {
            m_attempt.fetch_add(1);
            set_state(channel_state::reconnecting, reason);
            const std::shared_ptr<c_tcp_sock> sock = connect_endpoint(m_ip, m_port, k_connect_timeout_ms, &reason);
            if (sock) {
                if (!m_run.load())
                    break;
                LOG_INFO("%s channel connected again after %d attempt(s)", m_name.c_str(), m_attempt.load());
                if (m_hooks.attach)
                    m_hooks.attach(sock);
                set_state(channel_state::connected, std::string());
                break;
            }
            const unsigned long t = m_wake.ticket();
            if (m_run.load())
                m_wake.wait_from(t, unsigned(backoff_ms(m_attempt.load())));
        }
    }
    if (state() != channel_state::connected)
        m_state.store(int(channel_state::lost));
}
