#pragma once
// One viewer connection on one channel: the socket, serialised sends from
// any thread, and the byte source the frame reader cuts frames from.
//
// Between frames only a few zero bytes may come before the sync byte (the
// viewer's KM frames can carry 8 trailing zero bytes); anything else there is
// garbage: the source then ends the stream and garbage() says why.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/socket/c_buffered_byte_source.h"
#include "tools/socket/c_frame_reader.h"
#include "tools/socket/c_spin_wait.h"

class c_tcp_sock;

class c_devsim_conn : public c_byte_source
{
public:
    // Takes over the accepted descriptor. stop_flag ends reads when set.
    // busy_wait: look for the next message briefly before sleeping, as a
    // dedicated device answers at once (costs processor time only while the
    // viewer's messages follow each other within microseconds).
    c_devsim_conn(int fd, const std::atomic<bool>* stop_flag, bool busy_wait = false);
    ~c_devsim_conn() override;

    // Sends one whole frame; false when the connection is closed, muted or the send failed.
    bool send(const std::vector<uint8_t>& frame);

    // Fault injection. What follows the injected bytes on this connection.
    enum class after_inject
    {
        keep,   // go on as before
        mute,   // send nothing more (a device that stalls)
        close,  // close the connection (FIN)
        reset   // abort the connection (RST, no FIN)
    };
    // Sends bytes as they stand (no framing, possibly a piece of a frame),
    // then does `after`, all under the send lock so that no frame of another
    // thread is cut by them or slips in behind a stall. False when nothing
    // could be sent.
    bool inject(const std::vector<uint8_t>& bytes, after_inject after);
    // While muted every send() is dropped (returns false).
    void set_mute(bool on) { m_mute = on; }
    bool muted() const { return m_mute.load(); }

    // Closes the connection; a blocked read or send returns at once.
    void close();
    bool is_open() const;

    // c_byte_source
    int recv(uint8_t* buf, int len) override;
    bool should_stop() override;

    // The reader has delivered a whole frame; the next bytes start a new one.
    void frame_done();
    // Non-empty when the stream was ended for garbage between frames.
    const std::string& garbage() const { return m_garbage; }

    // "127.0.0.1:40222"
    std::string peer() const { return m_peer; }

private:
    // The socket itself: waits for bytes (100 ms at a time, so a stop is
    // seen), then one receive.
    class socket_source : public c_byte_source
    {
    public:
        explicit socket_source(c_devsim_conn& conn) : m_conn(conn) {}
        int recv(uint8_t* buf, int len) override;
        bool should_stop() override { return m_conn.should_stop(); }

    private:
        c_devsim_conn& m_conn;
    };

    std::shared_ptr<c_tcp_sock> m_sock;
    const std::atomic<bool>* m_stop;
    std::mutex m_sendLock;
    std::atomic<bool> m_mute{false};
    std::string m_peer;

    bool m_between = true;  // before the sync byte of the next frame
    int m_zeros = 0;        // zero bytes seen there
    std::string m_garbage;

    const bool m_busyWait;
    c_spin_wait m_spin;
    socket_source m_socketSource{*this};
    c_buffered_byte_source m_buffered{m_socketSource};
};
