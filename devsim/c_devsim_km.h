#pragma once
// KM channel of the device: deciphers the viewer's messages with desDecode,
// tracks keyboard and mouse, answers every message with its type and result
// 0 (the privilege request with the granted state), except the viewer's
// give-up answer (21) and grab acknowledgement (22), which the viewer does
// not wait for and which, echoed back, it would take for new requests.
// Sends give-up requests, grab results and privilege states on command.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "c_devsim_channel.h"

class c_devsim_km : public c_devsim_channel
{
public:
    explicit c_devsim_km(c_devsim& dev);
    ~c_devsim_km() override;

    // Answer behaviour, changeable while running.
    void set_answer(bool on) { m_answer = on; }
    bool answering() const { return m_answer.load(); }
    void set_delay(int ms) { m_delayMs = ms; }

    // Device-initiated messages; false without a viewer.
    bool send_giveup();              // 21
    bool send_grab_result(int v);    // 22 v (0 granted); sets the privilege
    bool send_privilege(int v);      // 23 v (1 write); sets the privilege

    // Sends one message body as the configured cipher mode says.
    bool send_body(const uint8_t* body, uint32_t len);

    // Messages received since start (all connections).
    uint64_t received() const { return m_received.load(); }

protected:
    void on_disconnect() override;
    bool on_frame(const uint8_t* header, uint8_t* body, uint32_t len) override;

private:
    void answer(uint8_t type, uint8_t value);

    std::atomic<bool> m_answer{true};
    std::atomic<int> m_delayMs{0};
    std::atomic<uint64_t> m_received{0};
    std::mutex m_delayLock;
    std::condition_variable m_delayCond;
};
