#pragma once
// Calls a syncer's sync() whenever woken, until stopped. Takes over from a
// channel send thread that ended because its channel was lost, so that the
// syncer's queued messages still leave instead of piling up unsent.
#include <atomic>
#include <memory>

#include "tools/socket/c_abs_thread.h"
#include "tools/socket/c_net_syncer.h"
#include "tools/socket/c_wake_up.h"

class c_sync_thread : public c_abs_thread
{
    Q_OBJECT
public:
    // Producers' wake-ups go to this thread from here on.
    explicit c_sync_thread(c_net_syncer* syncer);
    // Stops and waits for the thread.
    ~c_sync_thread() override;

    void stop();

protected:
    void run() override;

private:
    c_net_syncer* m_syncer;
    c_wake_up m_wake;
    std::shared_ptr<c_sync_wake> m_handle;
    std::atomic<bool> m_run{true};
};
