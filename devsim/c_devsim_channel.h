#pragma once
// One device channel: listens on 127.0.0.1, serves one viewer connection at a
// time on its own thread, cuts its byte stream into frames and hands each
// checked frame to the concrete channel. When the viewer goes away (or the
// connection is dropped for bad input or by command) it waits for the next.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "c_devsim_conn.h"
#include "c_devsim_listener.h"

class c_devsim;

class c_devsim_channel
{
public:
    c_devsim_channel(c_devsim& dev, const char* name);
    virtual ~c_devsim_channel();

    c_devsim_channel(const c_devsim_channel&) = delete;
    c_devsim_channel& operator=(const c_devsim_channel&) = delete;

    const char* name() const { return m_name; }

    bool listen(uint16_t port);
    uint16_t port() const { return m_listener.port(); }

    void start();
    // Ends the thread; closes the current connection.
    void stop();

    bool connected() const;
    // Closes the current connection (the "close" command); false when none.
    bool drop();
    // Sends one frame on the current connection; false when there is none.
    bool send(const std::vector<uint8_t>& frame);
    // Connections served so far.
    int connections() const { return m_connections.load(); }

    // Drops the connection and refuses new ones (the port stops listening)
    // for ms milliseconds; then listens on the same port again.
    void refuse_for(int ms);
    // Stops reading the connection (a device that no longer takes bytes),
    // or reads again.
    void set_read_stalled(bool stalled) { m_readStalled.store(stalled); }

    // Fault injection on the current connection (see c_devsim_conn::inject);
    // false when there is none or nothing could be sent.
    bool inject(const std::vector<uint8_t>& bytes, c_devsim_conn::after_inject after);
    // Runs work on a thread of the channel (one at a time); it ends with the
    // connection, since injections then fail. False while one still runs or
    // without a connection.
    bool run_fault(std::function<void()> work);

protected:
    // Called on the channel thread.
    virtual void on_connect() {}
    virtual void on_disconnect() {}
    // One frame whose header, version and checksum are fine. Returns false
    // for a frame the channel cannot accept: the connection is then dropped.
    virtual bool on_frame(const uint8_t* header, uint8_t* body, uint32_t len) = 0;

    // Drops the connection with an error line (log and events).
    void protocol_error(const char* what);

    bool stopping() const { return m_stop.load(); }

    c_devsim& m_dev;

private:
    void run();
    void serve(const std::shared_ptr<c_devsim_conn>& conn);
    void join_fault();

    const char* m_name;
    c_devsim_listener m_listener;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_connLock;
    std::shared_ptr<c_devsim_conn> m_conn;
    std::string m_error;  // set by protocol_error() for the current connection
    std::mutex m_faultLock;
    std::thread m_faultThread;
    std::atomic<bool> m_faultRunning{false};
    std::atomic<int64_t> m_refuseUntilMs{0};
    std::atomic<bool> m_readStalled{false};
    uint16_t m_port = 0;
};
