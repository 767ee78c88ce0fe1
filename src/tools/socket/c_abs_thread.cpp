#include "tools/socket/c_abs_thread.h"

#include "crash/crash_handler.h"

// A QThread ends and is joined through Qt's own lock, which ThreadSanitizer
// cannot see (Qt is not built with it), so everything a finished thread did
// would look unordered with its owner freeing what the thread used. The
// thread's end is published here, and taken up wherever the owner learns that
// the thread has ended.
#if defined(__SANITIZE_THREAD__)
#define KVM_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KVM_UNDER_TSAN 1
#endif
#endif

#ifdef KVM_UNDER_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace {

void joined(const c_abs_thread* thread)
{
#ifdef KVM_UNDER_TSAN
    __tsan_acquire(const_cast<c_abs_thread*>(thread));
#else
    (void)thread;
#endif
}

}  // namespace

c_abs_thread::c_abs_thread() : QThread(nullptr)
{
    // Emitted on the new thread before run(): a stack overflow there (the
    // video thread decodes) must still leave a crash record.
    connect(this, &QThread::started, this, [] { crash_prepare_thread(); }, Qt::DirectConnection);
#ifdef KVM_UNDER_TSAN
    // Emitted on the ending thread after run() has returned.
    connect(this, &QThread::finished, this, [this] { __tsan_release(this); }, Qt::DirectConnection);
#endif
}

c_abs_thread::~c_abs_thread() = default;

bool c_abs_thread::wait(QDeadlineTimer deadline)
{
    const bool ended = QThread::wait(deadline);
    if (ended)
        joined(this);
    return ended;
}

bool c_abs_thread::wait(unsigned long time)
{
    const bool ended = QThread::wait(time);
    if (ended)
        joined(this);
    return ended;
}

bool c_abs_thread::isRunning() const
{
    const bool running = QThread::isRunning();
    if (!running)
        joined(this);
    return running;
}

bool c_abs_thread::isFinished() const
{
    const bool finished = QThread::isFinished();
    if (finished)
        joined(this);
    return finished;
}
