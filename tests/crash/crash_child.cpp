// Crashes on purpose after installing the crash handler. Argument: how.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "crash/crash_handler.h"
#include "tools/socket/c_abs_thread.h"

namespace {

int* volatile g_null = nullptr;

void null_write()
{
    *g_null = 1;
}

// Unbounded recursion: overflows the calling thread's stack.
int recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth < 0)  // never: keeps the compiler from calling this endless
        return 0;
    return recurse(depth + 1) + frame[0];
}

// A worker thread of the viewer's kind whose stack overflows.
class overflowing_worker : public c_abs_thread
{
protected:
    void run() override { recurse(0); }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    if (!install_crash_handler() || !install_crash_handler())
        return 3;
    std::printf("record=%s\n", crash_record_path());
    std::fflush(stdout);
    const char* how = argv[1];
    if (std::strcmp(how, "segv") == 0)
        null_write();
    else if (std::strcmp(how, "segv-thread") == 0)
        std::thread([] { null_write(); }).join();
    else if (std::strcmp(how, "overflow-worker") == 0) {
        overflowing_worker w;
        w.start();
        w.wait();
    } else if (std::strcmp(how, "abort") == 0)
        std::abort();
    else if (std::strcmp(how, "fpe") == 0)
        raise(SIGFPE);
    return 0;
}

// In sanitizer builds the sanitizer's own fatal-signal handling would replace
// the handler under test.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0";
}
