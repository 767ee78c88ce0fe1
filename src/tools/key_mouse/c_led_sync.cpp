#include "tools/key_mouse/c_led_sync.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

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
        // Fire and forget: a companion that fails to start leaves the LED alone.
        const QStringList args{QString::number(index, 10), QString::number(on ? 1 : 0, 10)};
        QProcess::startDetached(companion, args, QFileInfo(companion).absolutePath());
        return;
    }
    set_xkb_lock(index, on);
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
