#include "crash/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Everything the handler touches is prepared before a crash: the handler may
// only use async-signal-safe calls.
char g_recordPath[PATH_MAX + 16];
alignas(16) char g_altStack[64 * 1024];
bool g_installed = false;

const char* signal_name(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

void put(int fd, const char* s)
{
    size_t len = std::strlen(s);
    while (len > 0) {
        ssize_t n = ::write(fd, s, len);
        if (n <= 0)
            return;
        s += n;
        len -= static_cast<size_t>(n);
    }
}

void put_number(int fd, unsigned long long v, unsigned base)
{
    char buf[32];
    char* p = buf + sizeof buf;
    *--p = '\0';
    do {
        unsigned d = static_cast<unsigned>(v % base);
        *--p = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        v /= base;
    } while (v != 0);
    if (base == 16) {
        *--p = 'x';
        *--p = '0';
    }
    put(fd, p);
}

void copy_file(int out, const char* path)
{
    int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(in, buf, sizeof buf)) > 0) {
        ssize_t off = 0;
        while (off < n) {
            ssize_t w = ::write(out, buf + off, static_cast<size_t>(n - off));
            if (w <= 0) {
                ::close(in);
                return;
            }
            off += w;
        }
    }
    ::close(in);
}

void write_record(int sig, const siginfo_t* info, void* context)
{
    (void)context;
    if (g_recordPath[0] == '\0')
        return;
    // Only ever a plain file: a FIFO planted at the name would hold the dying
    // process in open() or write() where not even SIGTERM ends it.
    int fd = ::open(g_recordPath, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return;
    }
    put(fd, "Fatal Error\nsignal: ");
    put_number(fd, static_cast<unsigned>(sig), 10);
    put(fd, " ");
    put(fd, signal_name(sig));
    put(fd, "\ncode: ");
    put_number(fd, static_cast<unsigned>(info ? info->si_code : 0), 10);
    put(fd, "\nfault address: ");
    put_number(fd, reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
    put(fd, "\nprocess id: ");
    put_number(fd, static_cast<unsigned long long>(::getpid()), 10);
    put(fd, "\nthread id: ");
    put_number(fd, static_cast<unsigned long long>(::syscall(SYS_gettid)), 10);
    put(fd, "\nbacktrace:\n");
    void* frames[64];
    int depth = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, depth, fd);
    put(fd, "maps:\n");
    copy_file(fd, "/proc/self/maps");
    ::close(fd);
}

void on_fatal_signal(int sig, siginfo_t* info, void* context)
{
    write_record(sig, info, context);
    put(STDERR_FILENO, "Fatal Error\n");

    // Default action: re-raised, the signal is delivered as soon as the
    // handler returns (it is blocked until then); a faulting instruction
    // would also fault again.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
}

bool install_once()
{
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    g_recordPath[0] = '\0';
    if (n > 0) {
        exe[n] = '\0';
        char* slash = std::strrchr(exe, '/');
        if (slash) {
            slash[1] = '\0';
            std::strcpy(g_recordPath, exe);
            std::strcat(g_recordPath, "crash.dat");
        }
    }

    // The first backtrace() loads its unwinder; do that now, not in the handler.
    void* warm[2];
    ::backtrace(warm, 2);

    // A stack overflow leaves no stack to run the handler on, hence the
    // alternate stack (for the thread that installs the handler).
    stack_t ss;
    std::memset(&ss, 0, sizeof ss);
    ss.ss_sp = g_altStack;
    ss.ss_size = sizeof g_altStack;
    ::sigaltstack(&ss, nullptr);

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_fatal_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals)
        sigaddset(&sa.sa_mask, sig);
    bool ok = true;
    for (int sig : kSignals)
        ok = (::sigaction(sig, &sa, nullptr) == 0) && ok;
    return ok;
}

// One thread's alternate stack; switched off before the memory goes.
struct thread_alt_stack
{
    static const size_t kSize = 64 * 1024;
    std::unique_ptr<char[]> mem;
    thread_alt_stack() : mem(new char[kSize])
    {
        stack_t ss;
        std::memset(&ss, 0, sizeof ss);
        ss.ss_sp = mem.get();
        ss.ss_size = kSize;
        ::sigaltstack(&ss, nullptr);
    }
    ~thread_alt_stack()
    {
        stack_t ss;
        std::memset(&ss, 0, sizeof ss);
        ss.ss_flags = SS_DISABLE;
        ::sigaltstack(&ss, nullptr);
    }
};

}  // namespace

bool set_crash_record_path(const char* path)
{
    if (!path || std::strlen(path) >= sizeof g_recordPath)
        return false;
    std::strcpy(g_recordPath, path);
    return true;
}

void crash_prepare_thread()
{
    static thread_local thread_alt_stack stack;
    (void)stack;
}

bool install_crash_handler()
{
    static std::once_flag once;
    std::call_once(once, [] { g_installed = install_once(); });
    return g_installed;
}

const char* crash_record_path()
{
    return g_recordPath;
}
