#include "tools/key_mouse/c_led_sync.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <chrono>

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifdef KVM_HAVE_XKB
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#endif

namespace {

const char* const COMPANION = "kbl.exe";

}  // namespace

c_led_sync::c_led_sync(const QString& workingDir)
    : m_workingDir(workingDir), m_holdUntil(QDateTime::currentMSecsSinceEpoch())
{
}

c_led_sync::~c_led_sync()
{
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_stop = true;
    }
    m_runWake.notify_all();
    if (m_runner.joinable())
        m_runner.join();
#ifdef KVM_HAVE_XKB
    std::lock_guard<std::mutex> g(m_xLock);
    if (m_display)
        XCloseDisplay(static_cast<Display*>(m_display));
#endif
}

void c_led_sync::set_x11_display(const QByteArray& name)
{
    std::lock_guard<std::mutex> g(m_xLock);
#ifdef KVM_HAVE_XKB
    if (m_display && name != m_displayName) {
        XCloseDisplay(static_cast<Display*>(m_display));
        m_display = nullptr;
    }
#endif
    m_displayName = name;
    m_displayFailed = false;
}

void c_led_sync::set_hold_until(int64_t msecsSinceEpoch)
{
    m_holdUntil.store(msecsSinceEpoch);
}

bool c_led_sync::apply(uint8_t bits)
{
    if (QDateTime::currentMSecsSinceEpoch() <= m_holdUntil.load())
        return false;
    set_local_led(LED_NUM, (bits & 0x01) != 0);
    set_local_led(LED_CAPS, (bits & 0x02) != 0);
    set_local_led(LED_SCROLL, (bits & 0x04) != 0);
    return true;
}

QString c_led_sync::companion_path() const
{
    const QDir dir(m_workingDir.isEmpty() ? QDir::currentPath() : m_workingDir);
    const QFileInfo info(dir.filePath(QString::fromLatin1(COMPANION)));
    return info.isFile() ? info.absoluteFilePath() : QString();
}

void c_led_sync::set_local_led(int index, bool on)
{
    const QString companion = companion_path();
    if (!companion.isEmpty()) {
        if (index < LED_NUM || index > LED_SCROLL)
            return;
        {
            std::lock_guard<std::mutex> g(m_runLock);
            if (m_stop)
                return;
            m_wanted[index - 1] = on ? 1 : 0;
            m_companion = companion;
            if (!m_runner.joinable())
                m_runner = std::thread(&c_led_sync::run_companions, this);
        }
        m_runWake.notify_all();
        return;
    }
    set_xkb_lock(index, on);
}

void c_led_sync::run_companions()
{
    using clock = std::chrono::steady_clock;
    const auto gap = std::chrono::milliseconds(COMPANION_GAP_MS);
    clock::time_point lastStart = clock::now() - gap;
    std::unique_lock<std::mutex> lk(m_runLock);
    while (!m_stop) {
        int led = -1;
        for (int i = 0; i < 3 && led < 0; ++i)
            if (m_wanted[i] >= 0 && m_wanted[i] != m_started[i])
                led = i;
        if (led < 0) {
            m_runWake.wait(lk);
            continue;
        }
        if (clock::now() < lastStart + gap) {
            m_runWake.wait_until(lk, lastStart + gap);
            continue;
        }
        const int state = m_wanted[led];
        m_started[led] = state;
        lastStart = clock::now();
        const QByteArray program = QFile::encodeName(m_companion);
        const QByteArray dir = QFile::encodeName(QFileInfo(m_companion).absolutePath());
        lk.unlock();

        // A companion that fails to start leaves the LED alone.
        QByteArray indexArg = QByteArray::number(led + 1), stateArg = QByteArray::number(state);
        char* argv[] = {const_cast<char*>(program.constData()), indexArg.data(), stateArg.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
        pid_t pid = -1;
        const bool spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);

        // The next one starts only when this one has ended; reports meanwhile
        // only change what the next start sets. When the sync ends first, a
        // companion still running is left to finish on its own.
        bool ended = !spawned;
        while (!ended) {
            const pid_t r = waitpid(pid, nullptr, WNOHANG);
            ended = r == pid || (r < 0 && errno != EINTR);
            lk.lock();
            const bool stop = m_stop;
            if (!ended && !stop)
                m_runWake.wait_for(lk, std::chrono::milliseconds(5));
            lk.unlock();
            if (stop)
                break;
        }
        lk.lock();
    }
}

bool c_led_sync::set_xkb_lock(int index, bool on)
{
#ifdef KVM_HAVE_XKB
    std::lock_guard<std::mutex> g(m_xLock);
    if (m_displayName.isEmpty() || m_displayFailed)
        return false;
    if (!m_display) {
        int event = 0, error = 0, reason = 0;
        int major = XkbMajorVersion, minor = XkbMinorVersion;
        m_display = XkbOpenDisplay(m_displayName.constData(), &event, &error, &major, &minor, &reason);
        if (!m_display) {
            // No display or no XKB: stop trying until the display is set again.
            m_displayFailed = true;
            return false;
        }
    }
    Display* dpy = static_cast<Display*>(m_display);

    // A lock is a locked modifier, and the keymap drives the LED from it. Scroll
    // Lock usually has no real modifier; its indicator is then set by name.
    unsigned int mask = 0;
    const char* indicator = nullptr;
    switch (index) {
    case LED_NUM:
        mask = XkbKeysymToModifiers(dpy, XK_Num_Lock);
        indicator = "Num Lock";
        break;
    case LED_CAPS:
        mask = LockMask;
        indicator = "Caps Lock";
        break;
    case LED_SCROLL:
        mask = XkbKeysymToModifiers(dpy, XK_Scroll_Lock);
        indicator = "Scroll Lock";
        break;
    default:
        return false;
    }
    bool ok;
    if (mask != 0) {
        ok = XkbLockModifiers(dpy, XkbUseCoreKbd, mask, on ? mask : 0) != 0;
    } else {
        const Atom name = XInternAtom(dpy, indicator, False);
        ok = XkbSetNamedIndicator(dpy, name, True, on ? True : False, False, nullptr) != 0;
    }
    XFlush(dpy);
    return ok;
#else
    Q_UNUSED(index);
    Q_UNUSED(on);
    return false;
#endif
}
