#include "tools/socket/c_spin_wait.h"

#include <sched.h>

void c_spin_wait::relax()
{
    // Yields rather than pauses: on a machine with few cores a thread woken
    // meanwhile (often the very one that will answer) gets the core at once
    // instead of after the spin.
    sched_yield();
}
