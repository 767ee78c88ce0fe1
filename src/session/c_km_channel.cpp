#include "session/c_km_channel.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>

#include "log/log.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_recv_km1.h"
#include "tools/socket/c_socket_thread.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace {

const unsigned HAND_OFF_SLICE_MS = 100;
// Messages waiting beyond this are pointer reports nobody will miss: dropped.
const size_t QUEUE_LIMIT = 256;

int clamp_i8(int v)
{
    return std::max(-127, std::min(127, v));
}

// Folds the pointer report next into tail (the same type, still waiting).
// Returns false when they cannot be one report: other buttons (a press or
// release is never merged away), or a second wheel step of an absolute
// report. A relative movement that does not fit the report's range fills the
// tail and leaves the rest in next.
bool merge_pointer(unsigned char type, std::array<unsigned char, 6>& tail, std::array<unsigned char, 6>& next,
                   bool* rest)
{
    *rest = false;
    if (tail[0] != next[0])
        return false;
    if (type == CMD_KM_MOUSE_ABS) {
        if (tail[5] != 0)
            return false;
        tail = next;  // the newest position wins
        return true;
    }
    bool left = false;
    for (int i = 1; i <= 3; ++i) {
        const int sum = int(int8_t(tail[i])) + int(int8_t(next[i]));
        const int fits = clamp_i8(sum);
        tail[i] = uint8_t(int8_t(fits));
        next[i] = uint8_t(int8_t(sum - fits));
        left = left || sum != fits;
    }
    *rest = left;
    return true;
}

bool awaits_answer(int type)
{
    return type != CMD_KM_KEEPALIVE && type != CMD_KM_GIVEUP && type != CMD_KM_GRAB_RESULT;
}

}  // namespace

int64_t c_km_channel::now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

c_km_channel::c_km_channel(const config& cfg) : m_cfg(cfg) {}

c_km_channel::~c_km_channel()
{
    stop();
}

bool c_km_channel::connect()
{
    m_first_sock = connect_endpoint(m_cfg.ip, m_cfg.port, CONNECT_TIMEOUT_MS, &m_error);
    return m_first_sock != nullptr;
}

void c_km_channel::start(bool own_sender)
{
    if (m_keeper)
        return;
    c_channel_keeper::hooks h;
    h.detach = [this] { detach(); };
    h.attach = [this](std::shared_ptr<c_tcp_sock> s) { attach(std::move(s), true); };
    m_keeper = std::make_unique<c_channel_keeper>("KM", m_cfg.ip, m_cfg.port, h);
    m_keeper->set_state_handler(m_on_state);

    auto sock = m_first_sock ? m_first_sock : std::make_shared<c_tcp_sock>();
    m_first_sock.reset();
    attach(sock, false);
    if (own_sender) {
        m_sender = std::make_unique<c_km_sender>(*this);
        m_sender->start();
    }
    m_keeper->start();
}

void c_km_channel::stop()
{
    m_stopping.store(true);
    if (m_keeper)
        m_keeper->request_stop();
    if (m_sender)
        m_sender->request_stop();
    // The receive thread may wait for the GUI thread (hand_off): its stop
    // flag ends that wait.
    m_answer.set();
    if (m_keeper)
        m_keeper->wait();
    m_sender.reset();
    detach();
    m_keeper.reset();
}

void c_km_channel::attach(std::shared_ptr<c_tcp_sock> sock, bool reconnect)
{
    // An unanswered keep-alive is only noticed by the network while bytes wait
    // for their acknowledgement; the keep-alive makes sure some do.
    if (sock->is_open())
        sock->set_user_timeout(m_cfg.keepalive_loss_ms);
    auto recv = std::make_unique<c_socket_recv_km1>(sock);
    recv->set_key(m_cfg.in_key);
    recv->set_handler(this);
    c_channel_keeper* keeper = m_keeper.get();
    QObject::connect(recv.get(), &c_socket_recv_km1::socket_close, recv.get(),
                     [keeper] {
                         if (keeper)
                             keeper->lost("closed by the device");
                     },
                     Qt::DirectConnection);
    {
        std::lock_guard<std::mutex> g(m_sock_lock);
        m_sock = sock;
        m_recv = std::move(recv);
        m_recv->start(QThread::InheritPriority);
    }
    m_keepalive_answered.store(false);
    m_last_keepalive_answer_ms.store(now_ms());
    m_userid_answered.store(false);
    m_privilege_answered.store(false);
    m_opening_answers.store(0);
    note_answer();  // a new connection starts with nothing unanswered
    queue_opening(reconnect);
    m_up.store(sock->is_open());
    m_wake.wake_all();
}

void c_km_channel::detach()
{
    m_up.store(false);
    std::unique_ptr<c_socket_recv_km1> recv;
    std::shared_ptr<c_tcp_sock> sock;
    {
        std::lock_guard<std::mutex> g(m_sock_lock);
        recv = std::move(m_recv);
        sock = std::move(m_sock);
    }
    if (sock)
        sock->close();
    if (recv) {
        recv->request_stop();
        recv->wait();
    }
    // Whatever waited belongs to the connection that went.
    {
        std::lock_guard<std::mutex> g(m_queue_lock);
        m_queue.clear();
    }
    m_answer.set();
    {
        // The message being sent ends first (the answer wait was just cut
        // short), so those who follow progress learn whether it arrived
        // before they learn of the loss.
        std::lock_guard<std::mutex> g(m_flush_lock);
        m_losses.fetch_add(1);
    }
    notify_progress(m_taken_seq.load(), m_losses.load());
}

void c_km_channel::set_progress_handler(progress_fn fn)
{
    std::lock_guard<std::mutex> g(m_progress_lock);
    m_on_progress = std::move(fn);
}

void c_km_channel::notify_progress(uint64_t taken, uint64_t losses)
{
    std::lock_guard<std::mutex> g(m_progress_lock);
    if (m_on_progress)
        m_on_progress(taken, losses);
}

void c_km_channel::queue_opening(bool reconnect)
{
    std::list<queued_frame> opening;
    const auto user = km_userid_payload(m_cfg.user_id);
    opening.push_back({build_km_frame(CMD_KM_USERID, user.data(), KM_USERID_LEN, m_cfg.out_key)});
    LOG_INFO("km send userID");
    const unsigned char ask = 0;
    opening.push_back({build_km_frame(CMD_KM_PRIVILEGE, &ask, KM_ONE_BYTE_LEN, m_cfg.out_key)});
    if (reconnect) {
        // Whatever the remote computer saw held when the connection went is
        // let go first, so no key or button stays down.
        const unsigned char keys[KM_KEYBOARD_LEN] = {};
        opening.push_back({build_km_frame(CMD_KM_KEYBOARD, keys, KM_KEYBOARD_LEN, m_cfg.out_key)});
        // An absolute report needs a position: without one known, a relative
        // report with no movement lets go of the buttons without moving.
        if (m_cfg.absolute_mouse && m_abs_known.load()) {
            const auto abs = km_mouse_abs_payload(KM_ABS_NONE, int16_t(m_last_abs_x.load()),
                                                  int16_t(m_last_abs_y.load()), 0);
            opening.push_back({build_km_frame(CMD_KM_MOUSE_ABS, abs.data(), KM_MOUSE_ABS_LEN, m_cfg.out_key)});
        } else {
            const unsigned char rel[KM_MOUSE_REL_LEN] = {};
            opening.push_back({build_km_frame(CMD_KM_MOUSE_REL, rel, KM_MOUSE_REL_LEN, m_cfg.out_key)});
        }
    }
    std::lock_guard<std::mutex> g(m_queue_lock);
    m_queue.clear();
    m_queue.splice(m_queue.end(), opening);
    m_tail_pointer = false;
    if (reconnect)
        m_last_buttons = {0, 0};  // the opening let everything go
    m_tail_moves = 0;
}

uint64_t c_km_channel::push_back_frame(std::vector<uint8_t> frame)
{
    uint64_t seq;
    {
        std::lock_guard<std::mutex> g(m_queue_lock);
        seq = ++m_next_seq;
        m_queue.push_back({std::move(frame), seq});
        m_tail_pointer = false;
        m_tail_moves = 0;
    }
    m_wake.wake_all();
    return seq;
}

void c_km_channel::note_abs_position(const unsigned char* payload, int length)
{
    if (length < KM_MOUSE_ABS_LEN)
        return;
    m_abs_known.store(true);
    m_last_abs_x.store(int16_t(payload[1] | (payload[2] << 8)));
    m_last_abs_y.store(int16_t(payload[3] | (payload[4] << 8)));
}

bool c_km_channel::send(unsigned char type, int length, const unsigned char* payload)
{
    return send_counted(type, length, payload) != 0;
}

uint64_t c_km_channel::send_counted(unsigned char type, int length, const unsigned char* payload)
{
    if (length < 0 || (length > 0 && !payload))
        return 0;
    if (!m_up.load())
        return 0;
    std::vector<uint8_t> frame = build_km_frame(type, payload, uint32_t(length), m_cfg.out_key);
    if (frame.empty())
        return 0;
    if (type == CMD_KM_MOUSE_ABS)
        note_abs_position(payload, length);
    const bool pointer = (type == CMD_KM_MOUSE_ABS && length >= KM_MOUSE_ABS_LEN) ||
                         (type == CMD_KM_MOUSE_REL && length >= KM_MOUSE_REL_LEN);
    if (!pointer)
        return push_back_frame(std::move(frame));
    std::array<unsigned char, 6> next{};
    std::copy(payload, payload + (type == CMD_KM_MOUSE_ABS ? KM_MOUSE_ABS_LEN : KM_MOUSE_REL_LEN), next.begin());
    const int len = type == CMD_KM_MOUSE_ABS ? KM_MOUSE_ABS_LEN : KM_MOUSE_REL_LEN;
    uint64_t seq;
    {
        // A device that answers slowly must not make input wait behind a
        // pile of pointer reports: one still waiting takes the new movement.
        std::lock_guard<std::mutex> g(m_queue_lock);
        // Plain relative movement still waiting (the alignment's, say) is
        // moot once an absolute position without buttons follows it: the
        // pointer ends where the absolute report puts it.
        if (type == CMD_KM_MOUSE_ABS && next[0] == KM_ABS_NONE && m_tail_moves > 0) {
            for (size_t i = std::min(m_tail_moves, m_queue.size()); i > 0; --i)
                m_queue.pop_back();
            m_tail_moves = 0;
            m_tail_pointer = false;
        }
        const bool plain_move = type == CMD_KM_MOUSE_REL && next[0] == 0 && next[3] == 0;
        unsigned char& last_buttons = m_last_buttons[type == CMD_KM_MOUSE_ABS ? 1 : 0];
        const bool changes_buttons = next[0] != last_buttons;
        last_buttons = next[0];
        bool rest = false;
        // A report that presses or lets go keeps its own position: nothing is
        // merged into it.
        if (m_tail_pointer && !m_tail_changes_buttons && !m_queue.empty() && m_tail_type == type &&
            merge_pointer(type, m_tail_payload, next, &rest)) {
            m_queue.back().bytes = build_km_frame(type, m_tail_payload.data(), uint32_t(len), m_cfg.out_key);
            if (!rest)
                return m_queue.back().seq;
            frame = build_km_frame(type, next.data(), uint32_t(len), m_cfg.out_key);
        }
        if (m_queue.size() >= QUEUE_LIMIT)
            return 0;
        seq = ++m_next_seq;
        m_queue.push_back({std::move(frame), seq});
        m_tail_pointer = true;
        m_tail_changes_buttons = changes_buttons && !rest;
        m_tail_type = type;
        m_tail_payload = next;
        m_tail_moves = plain_move ? std::min(m_tail_moves + 1, m_queue.size()) : 0;
    }
    m_wake.wake_all();
    return seq;
}

void c_km_channel::prepend(unsigned char type)
{
    if (!m_up.load())
        return;
    const unsigned char zero = 0;
    std::vector<uint8_t> frame = build_km_frame(type, &zero, 1, m_cfg.out_key);
    if (frame.empty())
        return;
    {
        std::lock_guard<std::mutex> g(m_queue_lock);
        if (m_queue.empty())
            m_tail_pointer = false;
        m_queue.push_front({std::move(frame)});
    }
    m_wake.wake_all();
}

void c_km_channel::clear()
{
    bool counted = false;
    {
        std::lock_guard<std::mutex> g(m_queue_lock);
        for (const queued_frame& f : m_queue)
            counted = counted || f.seq != 0;
        m_queue.clear();
        m_tail_pointer = false;
        m_tail_moves = 0;
    }
    // Whoever follows their messages learns that some will never arrive.
    if (counted) {
        m_losses.fetch_add(1);
        notify_progress(m_taken_seq.load(), m_losses.load());
    }
}

std::vector<std::vector<uint8_t> > c_km_channel::queued() const
{
    std::lock_guard<std::mutex> g(m_queue_lock);
    std::vector<std::vector<uint8_t> > out;
    for (const queued_frame& f : m_queue)
        out.push_back(f.bytes);
    return out;
}

size_t c_km_channel::queue_length() const
{
    std::lock_guard<std::mutex> g(m_queue_lock);
    return m_queue.size();
}

bool c_km_channel::keyboard_report_queued() const
{
    std::lock_guard<std::mutex> g(m_queue_lock);
    for (const queued_frame& f : m_queue)
        if (km_frame_type(f.bytes.data(), uint32_t(f.bytes.size()), m_cfg.out_key) == CMD_KM_KEYBOARD)
            return true;
    return false;
}

bool c_km_channel::flush_one()
{
    std::lock_guard<std::mutex> flushing(m_flush_lock);
    std::vector<uint8_t> frame;
    uint64_t seq = 0;
    std::shared_ptr<c_tcp_sock> sock;
    const uint64_t losses = m_losses.load();
    {
        std::lock_guard<std::mutex> g(m_queue_lock);
        if (m_queue.empty())
            return false;
        frame = std::move(m_queue.front().bytes);
        seq = m_queue.front().seq;
        m_queue.pop_front();
        // In flight now: a later movement is a report of its own.
        if (m_queue.empty())
            m_tail_pointer = false;
        m_tail_moves = std::min(m_tail_moves, m_queue.size());
    }
    {
        std::lock_guard<std::mutex> g(m_sock_lock);
        sock = m_sock;
    }

    const int type = km_frame_type(frame.data(), uint32_t(frame.size()), m_cfg.out_key);
    const bool await = awaits_answer(type);
    // Armed before sending: a quick answer must not slip in between.
    if (await) {
        m_answer.reset();
        m_device_answered.store(false);
        m_awaiting.store(true);
        int64_t none = 0;
        m_unanswered_since_ms.compare_exchange_strong(none, now_ms());
    }
    const auto t0 = std::chrono::steady_clock::now();
    if (!sock || sock->tcp_send(frame.data(), int(frame.size())) == -1) {
        m_awaiting.store(false);
        LOG_ERROR("***********************m_pTcpSocket->write failed.");
        bool current;
        {
            std::lock_guard<std::mutex> g(m_sock_lock);
            current = sock && sock == m_sock;
        }
        // A send on a connection already replaced is no news.
        if (current && m_keeper && !m_stopping.load())
            m_keeper->lost("sending failed");
        return true;
    }
    if (await) {
        const bool answered = m_answer.wait(ANSWER_WAIT_MS);
        m_awaiting.store(false);
        if (answered) {
            m_rtts.add(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
        }
        if (!answered && !m_answer_missed)
            LOG_WARN("no KM answer from the device within %u ms (type %d); later messages go on without it",
                     ANSWER_WAIT_MS, type);
        m_answer_missed = !answered;
        const int64_t since = m_unanswered_since_ms.load();
        if (!answered && since != 0 && now_ms() - since >= ANSWER_LATE_MS && !m_answers_late.exchange(true)) {
            LOG_WARN("the KM device has not answered for %d ms: input is delayed", ANSWER_LATE_MS);
            if (m_on_answer_state)
                m_on_answer_state();
        }
    }
    if (seq != 0) {
        // A loss wakes the answer wait too: only the device's own answer, or
        // a connection still standing after the wait, means it arrived.
        bool standing;
        {
            std::lock_guard<std::mutex> g(m_sock_lock);
            standing = m_up.load() && sock == m_sock;
        }
        if ((await && m_device_answered.load()) || standing) {
            m_taken_seq.store(seq);
            notify_progress(seq, losses);
        }
    }
    return true;
}

void c_km_channel::note_answer()
{
    m_unanswered_since_ms.store(0);
    if (m_answers_late.exchange(false)) {
        LOG_INFO("the KM device answers again");
        if (m_on_answer_state)
            m_on_answer_state();
    }
}

void c_km_channel::check_keepalive(int64_t now)
{
    // Only a device that has shown it answers keep-alives can be judged by
    // their absence; the network's own time-out covers the others.
    if (m_keepalive_answered.load() && now - m_last_keepalive_answer_ms.load() > m_cfg.keepalive_loss_ms &&
        m_keeper && m_up.load())
        m_keeper->lost("no answer to the keep-alive for " + std::to_string(m_cfg.keepalive_loss_ms / 1000) + " s");
}

void c_km_channel::hand_off(QObject* context, std::function<void()> fn)
{
    auto done = std::make_shared<c_event>(true, false);
    QMetaObject::invokeMethod(
        context,
        [fn = std::move(fn), done] {
            fn();
            done->set();
        },
        Qt::QueuedConnection);
    // A receive thread that is being stopped (closing, reconnecting) gives up
    // waiting; the call still runs later, harmlessly, if the context lives.
    const c_socket_thread* self = qobject_cast<const c_socket_thread*>(QThread::currentThread());
    while (!done->wait(HAND_OFF_SLICE_MS)) {
        if ((self && !self->run_flag()) || m_stopping.load())
            return;
    }
}

channel_state c_km_channel::state() const
{
    return m_keeper ? m_keeper->state() : channel_state::lost;
}

int c_km_channel::reconnect_attempts() const
{
    return m_keeper ? m_keeper->attempts() : 0;
}

int64_t c_km_channel::answer_rtt_median_us() const
{
    return m_rtts.median();
}

void c_km_channel::note_opening_answer(const unsigned char* body, unsigned int body_len)
{
    if (!m_keeper || !body || body_len < 1)
        return;
    // An enciphered 50 00 arrives as 50 alone (its zero byte is taken for padding).
    if (body[0] == CMD_KM_USERID && body_len >= 2 && body[1] != 0) {
        m_keeper->refused(c_channel_keeper::refusal_text(m_cfg.user_id));
        return;
    }
    if (body[0] == CMD_KM_USERID)
        m_userid_answered.store(true);
    else if (body[0] == CMD_KM_PRIVILEGE)
        m_privilege_answered.store(true);
    // Both answers of the opening, or any two messages from a device that
    // answers in its own order.
    const int n = m_opening_answers.fetch_add(1) + 1;
    if ((m_userid_answered.load() && m_privilege_answered.load()) || n >= 2)
        m_keeper->opened();
}

void c_km_channel::retry()
{
    if (m_keeper)
        m_keeper->retry();
}

unsigned char c_km_channel::on_net_msg(const void* /*sender*/, const unsigned char* body, unsigned int plain_len_field,
                                       unsigned int body_len)
{
    note_opening_answer(body, body_len);
    note_answer();
    if (body && body_len >= 1 && body[0] == CMD_KM_KEEPALIVE) {
        m_keepalive_answered.store(true);
        m_last_keepalive_answer_ms.store(now_ms());
    }
    if (m_on_message)
        m_on_message(body, plain_len_field, body_len);
    // Whatever it was, it answers the message being waited for.
    if (m_awaiting.load()) {
        m_device_answered.store(true);
        m_answer.set();
    }
    return 0;
}

void c_km_sender::run()
{
    const int period = m_ch.m_cfg.keepalive_period_ms;
    int64_t next_keepalive = c_km_channel::now_ms() + period;
    while (m_run.load()) {
        // Taken before looking: a message queued after the look ends the wait.
        const unsigned long ticket = m_ch.m_wake.ticket();
        int64_t now = c_km_channel::now_ms();
        // Due whatever waits in the list: a mouse in motion in front of a slow
        // device keeps the list from ever emptying, and neither the keep-alive
        // nor the silence check may wait for that.
        if (now >= next_keepalive) {
            m_ch.check_keepalive(now);
            m_ch.prepend(CMD_KM_KEEPALIVE);
            // On the period's own beat, so waits for answers do not add up;
            // after a long stall (a suspended machine) it starts afresh.
            next_keepalive += period;
            if (next_keepalive <= now)
                next_keepalive = now + period;
        }
        if (m_ch.flush_one())
            continue;
        // Asleep until a message, a stop or the next keep-alive.
        now = c_km_channel::now_ms();
        if (next_keepalive > now)
            m_ch.m_wake.wait_from(ticket, unsigned(next_keepalive - now));
    }
}
