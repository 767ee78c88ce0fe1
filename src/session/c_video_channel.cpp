#include "session/c_video_channel.h"

#include <QObject>
#include <QThread>
#include <algorithm>
#include <chrono>

#include "log/log.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_factory.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace {

enum : unsigned char
{
    VIDEO_LED_STATE = 4,
    VIDEO_DATA = 6,
    VIDEO_BEGIN_SET = 30,
    VIDEO_END_SET = 31,
    VIDEO_SET_POS = 32,
    VIDEO_USER_ID = 50
};

const unsigned VIDEO_DATA_HEADER = 12;

}  // namespace

c_video_channel::c_video_channel(const config& cfg) : m_cfg(cfg), m_pipeline(std::make_shared<c_video_pipeline>()) {}

c_video_channel::~c_video_channel()
{
    stop();
}

bool c_video_channel::connect()
{
    m_first_sock = connect_endpoint(m_cfg.ip, m_cfg.port, CONNECT_TIMEOUT_MS, &m_error);
    return m_first_sock != nullptr;
}

void c_video_channel::start()
{
    if (m_keeper)
        return;
    c_channel_keeper::hooks h;
    h.detach = [this] { detach(); };
    h.attach = [this](std::shared_ptr<c_tcp_sock> s) {
        auto p = std::make_shared<c_video_pipeline>();
        if (m_on_pipeline)
            m_on_pipeline(p);
        {
            std::lock_guard<std::mutex> g(m_pipeline_lock);
            m_pipeline = p;
        }
        attach(std::move(s));
    };
    m_keeper = std::make_unique<c_channel_keeper>("video", m_cfg.ip, m_cfg.port, h);
    m_keeper->set_state_handler(m_on_state);
    auto sock = m_first_sock ? m_first_sock : std::make_shared<c_tcp_sock>();
    m_first_sock.reset();
    if (m_on_pipeline)
        m_on_pipeline(pipeline());
    attach(sock);
    m_keeper->start();
}

void c_video_channel::stop()
{
    if (m_keeper)
        m_keeper->request_stop();
    if (m_keeper)
        m_keeper->wait();
    detach();
    m_keeper.reset();
}

void c_video_channel::attach(std::shared_ptr<c_tcp_sock> sock)
{
    auto pair = std::make_unique<c_socket_pair>(sock, &m_send_queue, &m_send_wake, SOCKET_KIND_VIDEO);
    if (c_socket_thread* r = pair->recv_thread()) {
        static_cast<c_socket_recv_video*>(r)->set_key(m_cfg.in_key);
        r->set_handler(this);
        c_channel_keeper* keeper = m_keeper.get();
        QObject::connect(static_cast<c_socket_recv_video*>(r), &c_socket_recv_video::signal_socket_video_close, r,
                         [keeper] {
                             if (keeper)
                                 keeper->lost("closed by the device");
                         },
                         Qt::DirectConnection);
    }
    m_send_queue.push(build_msg_50(m_cfg.user_id));
    LOG_INFO("video userID send");
    m_pair = std::move(pair);
    m_pair->start(QThread::InheritPriority, QThread::InheritPriority);
}

void c_video_channel::detach()
{
    if (m_pair) {
        m_pair->stop();
        m_pair.reset();
    }
    drain_and_free(m_send_queue);
}

std::shared_ptr<c_video_pipeline> c_video_channel::pipeline() const
{
    std::lock_guard<std::mutex> g(m_pipeline_lock);
    return m_pipeline;
}

int64_t c_video_channel::us_since_last_picture_byte() const
{
    const int64_t at = m_last_picture_ns.load();
    if (at < 0)
        return -1;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    return (now - at) / 1000;
}

int64_t c_video_channel::decode_median_us() const
{
    return m_decode_us.median();
}

channel_state c_video_channel::state() const
{
    return m_keeper ? m_keeper->state() : channel_state::lost;
}

void c_video_channel::retry()
{
    if (m_keeper)
        m_keeper->retry();
}

int c_video_channel::reconnect_attempts() const
{
    return m_keeper ? m_keeper->attempts() : 0;
}

unsigned char c_video_channel::on_net_msg(const void* /*sender*/, const unsigned char* body,
                                          unsigned int /*plain_len_field*/, unsigned int body_len)
{
    m_bytes.fetch_add(body_len);
    const unsigned char status = handle(body, body_len);
    // The first message the device answers with opens the channel, unless it
    // refuses the login.
    const bool refusal = status == STATUS_HANDLED && body_len >= 2 && body[0] == VIDEO_USER_ID && body[1] != 0;
    if (m_keeper) {
        if (refusal)
            m_keeper->refused(c_channel_keeper::refusal_text(m_cfg.user_id));
        else if (status == STATUS_HANDLED)
            m_keeper->opened();
    }
    // Ignored all the same, but a device that sends such messages is broken
    // or hostile: say so.
    if (status == STATUS_BAD_LENGTH)
        LOG_WARN("video message type %u of %u bytes ignored: wrong length", body && body_len ? unsigned(body[0]) : 0u,
                 body_len);
    return status;
}

unsigned char c_video_channel::handle(const unsigned char* body, unsigned int len)
{
    if (!body || len < 1)
        return STATUS_BAD_LENGTH;

    switch (body[0]) {
    case VIDEO_LED_STATE:
        if (len != 2)
            return STATUS_BAD_LENGTH;
        if (m_on_led)
            m_on_led(body[1]);
        return STATUS_HANDLED;

    case VIDEO_DATA: {
        // 64-bit sum: a device-given payload length near 4 GiB must not wrap.
        if (len < VIDEO_DATA_HEADER || uint64_t(len) != VIDEO_DATA_HEADER + uint64_t(read_be32(body + 8)))
            return STATUS_BAD_LENGTH;
        // Decoding runs here, on the receive thread, so the next frame is not
        // read before this picture is in the hand-over.
        const std::shared_ptr<c_video_pipeline> p = pipeline();
        const bool last = body[1] == 1;
        if (last)
            m_pictures.fetch_add(1);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ready = p && p->on_video_data(body, int(len));
        if (last)
            m_decode_us.add(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
        if (ready) {
            m_last_picture_ns.store(
                std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch()).count());
            if (m_on_picture)
                m_on_picture();
        }
        return STATUS_HANDLED;
    }

    case VIDEO_BEGIN_SET:
    case VIDEO_END_SET:
    case VIDEO_SET_POS: {
        // The result byte is body byte 2; a shorter reply has none to read.
        if (len < 3)
            return STATUS_BAD_LENGTH;
        const char* name = body[0] == VIDEO_BEGIN_SET ? "beginSet" : body[0] == VIDEO_END_SET ? "endSet" : "setPos";
        LOG_INFO("videoSetting,%s,ack,%s", name, body[2] != 0 ? "fail" : "success");
        return STATUS_HANDLED;
    }

    case VIDEO_USER_ID:
        if (len < 2)
            return STATUS_BAD_LENGTH;
        LOG_INFO("video.userID.ack,%s", body[1] != 0 ? "fail" : "success");
        return STATUS_HANDLED;

    default:
        return STATUS_HANDLED;
    }
}
