#include "c_devsim_channel.h"

#include <chrono>

#include <QJsonObject>

#include <unistd.h>

#include "c_devsim.h"
#include "tools/socket/c_frame.h"

c_devsim_channel::c_devsim_channel(c_devsim& dev, const char* name) : m_dev(dev), m_name(name) {}

c_devsim_channel::~c_devsim_channel()
{
    stop();
}

bool c_devsim_channel::listen(uint16_t port)
{
    return m_listener.listen(port);
}

void c_devsim_channel::start()
{
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void c_devsim_channel::stop()
{
    m_stop = true;
    drop();
    if (m_thread.joinable())
        m_thread.join();
    join_fault();
    m_listener.close();
}

bool c_devsim_channel::connected() const
{
    std::lock_guard<std::mutex> lk(m_connLock);
    return m_conn && m_conn->is_open();
}

bool c_devsim_channel::drop()
{
    std::shared_ptr<c_devsim_conn> c;
    {
        std::lock_guard<std::mutex> lk(m_connLock);
        c = m_conn;
    }
    if (!c || !c->is_open())
        return false;
    c->close();
    return true;
}

bool c_devsim_channel::send(const std::vector<uint8_t>& frame)
{
    std::shared_ptr<c_devsim_conn> c;
    {
        std::lock_guard<std::mutex> lk(m_connLock);
        c = m_conn;
    }
    return c && c->send(frame);
}

bool c_devsim_channel::inject(const std::vector<uint8_t>& bytes, c_devsim_conn::after_inject after)
{
    std::shared_ptr<c_devsim_conn> c;
    {
        std::lock_guard<std::mutex> lk(m_connLock);
        c = m_conn;
    }
    return c && c->is_open() && c->inject(bytes, after);
}

bool c_devsim_channel::run_fault(std::function<void()> work)
{
    if (!connected())
        return false;
    std::lock_guard<std::mutex> lk(m_faultLock);
    if (m_faultRunning)
        return false;
    if (m_faultThread.joinable())
        m_faultThread.join();
    m_faultRunning = true;
    m_faultThread = std::thread([this, work = std::move(work)] {
        work();
        m_faultRunning = false;
    });
    return true;
}

void c_devsim_channel::join_fault()
{
    std::lock_guard<std::mutex> lk(m_faultLock);
    if (m_faultThread.joinable())
        m_faultThread.join();
}

void c_devsim_channel::protocol_error(const char* what)
{
    if (m_error.empty())
        m_error = what;
    drop();
}

namespace {
int64_t steady_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void c_devsim_channel::refuse_for(int ms)
{
    m_refuseUntilMs.store(steady_ms() + ms);
    drop();
}

void c_devsim_channel::run()
{
    m_port = m_listener.port();
    while (!m_stop) {
        if (steady_ms() < m_refuseUntilMs.load()) {
            // Not listening: a viewer's connect is refused by the system.
            if (m_listener.is_listening())
                m_listener.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (!m_listener.is_listening() && !m_listener.listen(m_port)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const int fd = m_listener.accept(100);
        if (fd < 0)
            continue;
        auto conn = std::make_shared<c_devsim_conn>(fd, &m_stop, m_dev.options().busyWait);
        // A refusal that began while this connection was being accepted found
        // nothing to drop: it is dropped here. Checked in the same step that
        // records it, so a refusal after the check finds it instead.
        bool refused = false;
        {
            std::lock_guard<std::mutex> lk(m_connLock);
            refused = steady_ms() < m_refuseUntilMs.load();
            if (!refused)
                m_conn = conn;
        }
        if (refused) {
            conn->close();
            continue;
        }
        ++m_connections;
        m_error.clear();
        m_dev.log("%s: viewer connected from %s", m_name, conn->peer().c_str());
        m_dev.events().note(m_name, "connect", {{QStringLiteral("peer"), QString::fromStdString(conn->peer())}});
        on_connect();

        serve(conn);

        conn->close();
        join_fault();  // its injections fail now that the connection is closed
        on_disconnect();
        {
            std::lock_guard<std::mutex> lk(m_connLock);
            m_conn.reset();
        }
        QJsonObject f{{QStringLiteral("peer"), QString::fromStdString(conn->peer())}};
        if (!m_error.empty()) {
            m_dev.log("%s: dropped the connection: %s", m_name, m_error.c_str());
            f.insert(QStringLiteral("error"), QString::fromStdString(m_error));
        } else {
            m_dev.log("%s: viewer disconnected", m_name);
        }
        m_dev.events().note(m_name, "disconnect", f);
    }
}

void c_devsim_channel::serve(const std::shared_ptr<c_devsim_conn>& conn)
{
    c_frame_reader reader;
    while (!m_stop && m_error.empty()) {
        if (m_readStalled.load() && conn->is_open()) {
            // Bytes pile up in the viewer's send buffer until it stops sending.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const frame_read_result r = reader.read_frame(*conn);
        if (r == frame_read_result::oversized) {
            char text[80];
            snprintf(text, sizeof text, "frame of %u bytes is larger than %u", frame_wire_len(reader.header()),
                     reader.body_capacity());
            m_error = text;
            m_dev.events().note(m_name, "error", {{QStringLiteral("error"), QString::fromLatin1(text)}});
            return;
        }
        if (r != frame_read_result::frame) {
            if (!conn->garbage().empty()) {
                m_error = conn->garbage();
                m_dev.events().note(m_name, "error", {{QStringLiteral("error"), QString::fromStdString(m_error)}});
            }
            return;
        }
        conn->frame_done();
        const uint8_t* h = reader.header();
        uint8_t* body = reader.body();
        const uint32_t len = reader.body_length();
        const char* bad = nullptr;
        if (h[1] != FRAME_VERSION)
            bad = "header version is not 1";
        else if (sum8(body, len) != h[2])
            bad = "checksum does not match the body";
        else if (len == 0)
            bad = "empty body";
        if (bad) {
            m_error = bad;
            m_dev.events().note(m_name, "error",
                                {{QStringLiteral("error"), QString::fromLatin1(bad)},
                                 {QStringLiteral("header"), c_devsim_events::hex(h, FRAME_HEADER_LEN)}});
            return;
        }
        if (!on_frame(h, body, len)) {
            if (m_error.empty())
                m_error = "message not accepted";
            m_dev.events().note(m_name, "error", {{QStringLiteral("error"), QString::fromStdString(m_error)}});
            return;
        }
        if (body[0] == 50 && m_dev.options().closeAfterOpening) {
            m_error = "closed after the opening (--close-after-opening)";
            return;
        }
    }
}
