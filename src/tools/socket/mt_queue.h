#pragma once
// Locked first-in-first-out queue with a stop-and-wait acknowledgement of its
// head. One consumer (the channel's send thread) pops; any thread pushes.
// Elements live in a node list, so a reference from front() stays valid until
// that element is popped, whatever is pushed meanwhile.
#include <atomic>
#include <iterator>
#include <list>
#include <memory>
#include <mutex>

#include "tools/socket/CQUEUE_MESSAGE.h"
#include "tools/socket/c_event.h"
#include "tools/socket/c_spin_wait.h"
#include "tools/socket/c_wake_up.h"

template <typename T>
class mt_queue
{
public:
    mt_queue() : m_mutex(std::make_shared<std::mutex>()) {}
    virtual ~mt_queue() = default;

    mt_queue(const mt_queue&) = delete;
    mt_queue& operator=(const mt_queue&) = delete;

    virtual int size()
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        return static_cast<int>(m_list.size());
    }

    // Appends msg, then wakes the consumer's wake-up object when one is set.
    void push(const T& msg)
    {
        {
            auto m = m_mutex;
            std::lock_guard<std::mutex> g(*m);
            m_list.push_back(msg);
        }
        if (c_wake_up* w = m_waker.load())
            w->wake_all();
    }

    // The wake-up object of the thread that drains this queue (null: none).
    // Set by the channel's thread pair; both belong to the channel's owner.
    void set_waker(c_wake_up* waker) { m_waker.store(waker); }

    // The head; on an empty queue a reference to an empty element (null data,
    // length 0) instead of undefined behaviour.
    T& front()
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        if (m_list.empty()) {
            m_none = T();
            return m_none;
        }
        return m_list.front();
    }

    // Removes the head into out; false (out = empty element) when empty.
    bool pop(T& out)
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        if (m_list.empty()) {
            out = T();
            return false;
        }
        out = m_list.front();
        m_list.pop_front();
        return true;
    }

    // Removes every message behind the head and hands them to the caller to
    // free. The head is left alone: it may be in flight, and its pending
    // acknowledgement must not land on a message queued after this call.
    std::list<T> take_all_but_head()
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        std::list<T> out;
        if (m_list.size() > 1)
            out.splice(out.end(), m_list, std::next(m_list.begin()), m_list.end());
        return out;
    }

    // Status of the head, 3 when empty.
    uint32_t ack_status()
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        return m_list.empty() ? 3u : m_list.front().ack_status;
    }

    // Writes status into the head (if any); any status but 4 (refused) marks
    // the head acknowledged; wakes the waiting sender either way.
    void set_ack(uint32_t status)
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        if (!m_list.empty())
            m_list.front().ack_status = status;
        if (status != 4)
            m_acked = true;
        m_ack_event.set();
        m_ack_hint.store(true, std::memory_order_release);
    }

    // True only when woken within timeout_ms with the acknowledged flag set;
    // the flag is then cleared. A refusal (4) or cancel_wait() returns false at once.
    // Only the consumer calls it.
    bool wait_ack(unsigned timeout_ms)
    {
        m_ack_spin.spin([this] { return m_ack_hint.load(std::memory_order_acquire); });
        const bool woken = m_ack_event.wait(timeout_ms);
        m_ack_hint.store(false, std::memory_order_relaxed);
        if (!woken)
            return false;
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        if (!m_acked)
            return false;
        m_acked = false;
        return true;
    }

    // Forgets any acknowledgement or wake-up left from a connection that went,
    // so the first message on the next one waits for its own answer.
    void reset_ack()
    {
        auto m = m_mutex;
        std::lock_guard<std::mutex> g(*m);
        m_acked = false;
        m_ack_event.reset();
        m_ack_hint.store(false, std::memory_order_relaxed);
    }

    // Wakes a waiting wait_ack() without acknowledging (used when stopping).
    void cancel_wait()
    {
        m_ack_event.set();
        m_ack_hint.store(true, std::memory_order_release);
    }

private:
    std::list<T> m_list;
    bool m_acked = false;
    std::shared_ptr<std::mutex> m_mutex;
    c_event m_ack_event{false, false};
    // Mirrors a set of m_ack_event for the consumer's brief spin; a stale
    // true only cuts one spin short, the event decides.
    std::atomic<bool> m_ack_hint{false};
    c_spin_wait m_ack_spin;
    T m_none;
    std::atomic<c_wake_up*> m_waker{nullptr};
};

// Pops every message and frees its buffer; returns how many were dropped.
int drain_and_free(mt_queue<CQUEUE_MESSAGE>& queue);
