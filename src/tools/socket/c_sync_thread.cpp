#include "tools/socket/c_sync_thread.h"

c_sync_thread::c_sync_thread(c_net_syncer* syncer) : m_syncer(syncer), m_handle(std::make_shared<c_sync_wake>())
{
    m_handle->wake.store(&m_wake);
    m_syncer->set_sync_wake(m_handle);
}

c_sync_thread::~c_sync_thread()
{
    stop();
    wait();
}

void c_sync_thread::stop()
{
    // The wake-up object goes with this thread: producers stop using it first.
    m_handle->wake.store(nullptr);
    m_run.store(false);
    m_wake.wake_all();
}

void c_sync_thread::run()
{
    while (m_run.load()) {
        // Taken before looking: a message queued after the look ends the wait.
        const unsigned long ticket = m_wake.ticket();
        while (m_run.load() && m_syncer->sync()) {
        }
        m_wake.wait_from(ticket, 100);
    }
}
