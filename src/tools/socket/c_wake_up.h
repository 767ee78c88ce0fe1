#pragma once
// Wake-up object of a send thread: a wait condition with its own mutex, owned
// by the channel's owner and lent to the thread. Producers wake it after
// queuing (the queue does so on push once the channel's pair is made), so a
// new message leaves at once; the time-out of a wait only bounds how long a
// stop request can go unnoticed.
//
// A wake counts even when nobody waits yet: a thread takes a ticket before it
// looks at its queue and waits with that ticket, so a message queued between
// the look and the wait is not left waiting for the time-out.
#include <condition_variable>
#include <mutex>

class c_wake_up
{
public:
    c_wake_up() = default;
    c_wake_up(const c_wake_up&) = delete;
    c_wake_up& operator=(const c_wake_up&) = delete;

    // The current count of wakes, for wait_from().
    unsigned long ticket();
    // Waits at most timeout_ms for a wake after the ticket was taken; true at
    // once when one came meanwhile.
    bool wait_from(unsigned long ticket, unsigned timeout_ms);
    // Waits at most timeout_ms for a wake after this call; true when woken.
    bool wait(unsigned timeout_ms);
    void wake_all();

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    unsigned long m_generation = 0;
};
