#pragma once
// Commands for people and tests: one line in, one reply line out ("ok ..." or
// "error ..."). Served on a loopback control port (any number of clients,
// each line answered on its own connection) and through c_devsim::command.
#include <QString>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

#include "c_devsim_listener.h"

class c_devsim;

class c_devsim_control
{
public:
    explicit c_devsim_control(c_devsim& dev);
    ~c_devsim_control();

    c_devsim_control(const c_devsim_control&) = delete;
    c_devsim_control& operator=(const c_devsim_control&) = delete;

    bool listen(uint16_t port);
    uint16_t port() const { return m_listener.port(); }
    void start();
    void stop();

    // Runs one command line; the reply has no line end.
    QString execute(const QString& line);

    static QString help();

private:
    void run();
    void serve(int fd);

    c_devsim& m_dev;
    c_devsim_listener m_listener;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_clientsLock;
    std::list<std::thread> m_clients;
};
