#pragma once
// Flushes one queued KM message; called by the media send thread at the top
// of each pass. Returns true when it sent one.
//
// The send thread that calls sync() hands the syncer a handle to its wake-up
// object, so that whoever queues a KM message can end the thread's idle wait
// at once instead of leaving the message for the next poll. The thread empties
// the handle when it stops; the syncer never outlives its use of it.
#include <atomic>
#include <memory>

#include "tools/socket/c_wake_up.h"

struct c_sync_wake
{
    std::atomic<c_wake_up*> wake{nullptr};
};

class c_net_syncer
{
public:
    virtual ~c_net_syncer() = default;
    virtual bool sync() = 0;

    // Called by the send thread when the syncer is attached to it.
    void set_sync_wake(std::shared_ptr<c_sync_wake> handle) { std::atomic_store(&m_sync_wake, std::move(handle)); }

    // Called by the send thread as it ends because its channel was lost or
    // never connected (not when it was stopped), or when the syncer is
    // attached to a thread that has already ended so: nothing calls sync()
    // any more unless the syncer arranges it.
    virtual void sync_thread_lost() {}

protected:
    // For producers of KM messages, after queuing one.
    void wake_sync_thread()
    {
        const std::shared_ptr<c_sync_wake> h = std::atomic_load(&m_sync_wake);
        if (c_wake_up* w = h ? h->wake.load() : nullptr)
            w->wake_all();
    }

private:
    std::shared_ptr<c_sync_wake> m_sync_wake;
};
