#include "app/shutdown.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstring>

namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};

void on_signal(int sig)
{
    const int saved = errno;
    // A second signal while the orderly shutdown runs ends the process at once.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    const char byte = char(sig);
    ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

shutdown_requests::shutdown_requests(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), m_onRequest(std::move(onRequest))
{
    QCoreApplication::instance()->installNativeEventFilter(this);
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buf[16];
        while (::read(g_pipe[0], buf, sizeof buf) > 0) {
        }
        fire();
    });
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

shutdown_requests::~shutdown_requests()
{
    QCoreApplication::instance()->removeNativeEventFilter(this);
    // From here on the signals end the process as they did before.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &dfl, nullptr);
}

void shutdown_requests::watch_window(QWindow* window)
{
    m_window = window;
}

bool shutdown_requests::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_window || eventType != "xcb_generic_event_t")
        return false;
    const auto* ev = static_cast<const xcb_generic_event_t*>(message);
    if ((ev->response_type & 0x7f) == XCB_DESTROY_NOTIFY) {
        const auto* d = static_cast<const xcb_destroy_notify_event_t*>(message);
        // Compared with the current native window: one Qt replaced itself
        // (e.g. when window flags change) is not the end of the program.
        if (m_window->handle() && d->window == m_window->winId()) {
            m_window = nullptr;
            // Not from inside the event dispatch: the request runs next.
            QMetaObject::invokeMethod(this, [this] { fire(); }, Qt::QueuedConnection);
        }
    }
    return false;
}

void shutdown_requests::fire()
{
    if (m_fired)
        return;
    m_fired = true;
    if (m_onRequest)
        m_onRequest();
}
