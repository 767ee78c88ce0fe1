#pragma once
// Video channel of the device: answers the user identification (50) and the
// picture position requests (31 reset, 32 step) and streams the picture as
// H.264 access units cut into type-6 messages, one stream per connection
// (each starts with a key frame). Also carries the LED state (type 4).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "c_devsim_channel.h"

class c_devsim_video : public c_devsim_channel
{
public:
    explicit c_devsim_video(c_devsim& dev);
    ~c_devsim_video() override;

    // Sends the LED state message (4, bits); false without a viewer.
    bool send_leds(uint8_t bits);

    // Access units and pictures streamed since start (all connections).
    uint64_t pictures_sent() const { return m_pictures.load(); }

    // Observer of every access unit as encoded, before fragmenting (tests).
    using au_observer = std::function<void(const std::vector<uint8_t>&)>;
    void set_au_observer(au_observer fn);

protected:
    void on_connect() override;
    void on_disconnect() override;
    bool on_frame(const uint8_t* header, uint8_t* body, uint32_t len) override;

private:
    void stream();
    bool send_access_unit(const std::vector<uint8_t>& au, uint32_t picture);

    std::thread m_streamer;
    std::atomic<bool> m_streamStop{false};
    std::mutex m_waitLock;
    std::condition_variable m_wait;
    std::atomic<uint64_t> m_pictures{0};
    std::mutex m_observerLock;
    au_observer m_observer;
};
