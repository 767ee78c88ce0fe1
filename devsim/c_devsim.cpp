#include "c_devsim.h"

#include <QDateTime>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "c_devsim_control.h"
#include "c_devsim_desktop.h"
#include "c_devsim_km.h"
#include "c_devsim_media.h"
#include "c_devsim_video.h"
#include "c_devsim_x11.h"

namespace {
constexpr int k_grid_w = 1920;  // the viewer's absolute mouse grid
constexpr int k_grid_h = 1200;
constexpr size_t k_clicks_kept = 8;
}  // namespace

c_devsim::c_devsim(const c_devsim_options& options) : m_opt(options)
{
    m_privilege = m_opt.privilege;
    m_video = std::make_unique<c_devsim_video>(*this);
    m_km = std::make_unique<c_devsim_km>(*this);
    m_media = std::make_unique<c_devsim_media>(*this);
    m_control = std::make_unique<c_devsim_control>(*this);
}

c_devsim::~c_devsim()
{
    stop();
}

void c_devsim::log(const char* fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    const QByteArray t = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    std::lock_guard<std::mutex> lk(m_logLock);
    fprintf(stderr, "%s devsim: %s\n", t.constData(), text);
}

bool c_devsim::start(QString* error)
{
    if (m_started)
        return true;
    if (!m_events.open(m_opt.eventsFile, m_opt.eventsHexMax)) {
        *error = QStringLiteral("cannot write the events file %1").arg(m_opt.eventsFile);
        return false;
    }
    if (!m_opt.x11Display.isEmpty()) {
        auto x = std::make_unique<c_devsim_x11>();
        QString why;
        if (!x->open(m_opt.x11Display, &why)) {
            *error = why;
            return false;
        }
        m_screen = std::move(x);
    } else {
        m_screen = std::make_unique<c_devsim_desktop>(m_opt.width, m_opt.height);
    }
    {
        std::lock_guard<std::mutex> lk(m_stateLock);
        m_pointer = QPoint(m_screen->width() / 2, m_screen->height() / 2);
    }

    struct
    {
        c_devsim_channel* ch;
        uint16_t port;
    } chans[] = {{m_video.get(), m_opt.portVideo}, {m_km.get(), m_opt.portKM}, {m_media.get(), m_opt.portMedia}};
    for (auto& c : chans) {
        if (!c.ch->listen(c.port)) {
            *error = QStringLiteral("cannot listen on 127.0.0.1:%1 for the %2 channel: %3")
                         .arg(c.port)
                         .arg(QString::fromLatin1(c.ch->name()), QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
    }
    if (m_opt.controlPort && !m_control->listen(m_opt.portControl)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1 for control: %2")
                     .arg(m_opt.portControl)
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    for (auto& c : chans)
        c.ch->start();
    if (m_opt.controlPort)
        m_control->start();
    m_started = true;
    m_events.note("device", "listen", {{QStringLiteral("video"), port_video()},
                                       {QStringLiteral("km"), port_km()},
                                       {QStringLiteral("media"), port_media()},
                                       {QStringLiteral("control"), port_control()},
                                       {QStringLiteral("launch"), launch_string()}});
    return true;
}

void c_devsim::stop()
{
    if (!m_started)
        return;
    m_started = false;
    m_control->stop();
    m_video->stop();
    m_km->stop();
    m_media->stop();
    m_events.note("device", "stop");
    m_events.close();
}

QString c_devsim::launch_string() const
{
    return m_opt.launchString(port_video(), port_km(), port_media());
}

uint16_t c_devsim::port_video() const
{
    return m_video->port();
}
uint16_t c_devsim::port_km() const
{
    return m_km->port();
}
uint16_t c_devsim::port_media() const
{
    return m_media->port();
}
uint16_t c_devsim::port_control() const
{
    return m_opt.controlPort ? m_control->port() : 0;
}

QString c_devsim::command(const QString& line)
{
    return m_control->execute(line);
}

void c_devsim::request_quit()
{
    {
        std::lock_guard<std::mutex> lk(m_quitLock);
        m_quit = true;
    }
    m_quitCond.notify_all();
}

bool c_devsim::wait_quit(int ms)
{
    std::unique_lock<std::mutex> lk(m_quitLock);
    if (ms < 0) {
        m_quitCond.wait(lk, [this] { return m_quit.load(); });
        return true;
    }
    return m_quitCond.wait_for(lk, std::chrono::milliseconds(ms), [this] { return m_quit.load(); });
}

c_devsim_keyboard::result c_devsim::keyboard_report(const uint8_t report[8])
{
    uint8_t prev[8];
    c_devsim_keyboard::result r;
    uint8_t leds;
    {
        std::lock_guard<std::mutex> lk(m_stateLock);
        memcpy(prev, m_keyboard.held(), 8);
        r = m_keyboard.apply(report);
        if (!r.pressed.isEmpty())
            m_lastKeys = r.pressed.join(QLatin1Char(' '));
        leds = m_keyboard.leds();
    }
    m_screen->inject_keys(prev, report);
    if (r.locksChanged) {
        m_video->send_leds(leds);
        m_events.note("video", "leds", {{QStringLiteral("leds"), int(leds)}});
    }
    return r;
}

void c_devsim::keyboard_reset()
{
    std::lock_guard<std::mutex> lk(m_stateLock);
    m_keyboard.release_all();
}

void c_devsim::pointer_relative(int buttons, int dx, int dy, int wheel)
{
    QPoint p;
    {
        std::lock_guard<std::mutex> lk(m_stateLock);
        m_pointer.rx() = qBound(0, m_pointer.x() + dx, m_screen->width() - 1);
        m_pointer.ry() = qBound(0, m_pointer.y() + dy, m_screen->height() - 1);
        if (buttons & ~m_buttons) {
            m_clicks.push_back(m_pointer);
            if (m_clicks.size() > k_clicks_kept)
                m_clicks.erase(m_clicks.begin());
        }
        m_buttons = buttons;
        m_wheel += wheel;
        p = m_pointer;
    }
    m_screen->inject_pointer(p.x(), p.y(), buttons, wheel);
}

void c_devsim::pointer_absolute(int buttons, int gx, int gy, int wheel)
{
    const int bits = buttons == 1 ? 1 : buttons == 2 ? 2 : 0;
    QPoint p;
    {
        std::lock_guard<std::mutex> lk(m_stateLock);
        const int w = m_screen->width(), h = m_screen->height();
        m_pointer.rx() = qBound(0, int(int64_t(gx) * w / k_grid_w), w - 1);
        m_pointer.ry() = qBound(0, int(int64_t(gy) * h / k_grid_h), h - 1);
        if (bits & ~m_buttons) {
            m_clicks.push_back(m_pointer);
            if (m_clicks.size() > k_clicks_kept)
                m_clicks.erase(m_clicks.begin());
        }
        m_buttons = bits;
        m_wheel += wheel;
        p = m_pointer;
    }
    m_screen->inject_pointer(p.x(), p.y(), bits, wheel);
}

void c_devsim::set_leds(uint8_t bits, bool force)
{
    bool changed;
    {
        std::lock_guard<std::mutex> lk(m_stateLock);
        changed = m_keyboard.set_leds(bits);
        bits = m_keyboard.leds();
    }
    if (changed || force) {
        m_video->send_leds(bits);
        m_events.note("video", "leds", {{QStringLiteral("leds"), int(bits)}});
    }
}

uint8_t c_devsim::leds() const
{
    std::lock_guard<std::mutex> lk(m_stateLock);
    return m_keyboard.leds();
}

void c_devsim::move_picture(int direction)
{
    const int s = m_opt.pictureStep;
    std::lock_guard<std::mutex> lk(m_stateLock);
    switch (direction) {
    case 0: m_offset = QPoint(); break;
    case 1: m_offset.ry() -= s; break;
    case 2: m_offset.ry() += s; break;
    case 3: m_offset.rx() -= s; break;
    case 4: m_offset.rx() += s; break;
    default: break;
    }
}

QPoint c_devsim::picture_offset() const
{
    std::lock_guard<std::mutex> lk(m_stateLock);
    return m_offset;
}

QPoint c_devsim::pointer() const
{
    std::lock_guard<std::mutex> lk(m_stateLock);
    return m_pointer;
}

int c_devsim::buttons() const
{
    std::lock_guard<std::mutex> lk(m_stateLock);
    return m_buttons;
}

QString c_devsim::typed() const
{
    std::lock_guard<std::mutex> lk(m_stateLock);
    return m_keyboard.typed(256);
}

devsim_view c_devsim::view(uint64_t frame) const
{
    devsim_view v;
    v.frame = frame;
    {
        std::lock_guard<std::mutex> lk(m_stateLock);
        v.pointer = m_pointer;
        v.buttons = m_buttons;
        v.wheel = m_wheel;
        v.clicks = m_clicks;
        v.typed = m_keyboard.typed(64);
        v.lastKeys = m_lastKeys;
        v.leds = m_keyboard.leds();
        v.offset = m_offset;
    }
    v.privilege = m_privilege.load();
    v.banner = QStringLiteral("adapter %1   user %2 (%3)").arg(m_opt.dogID + 1).arg(m_opt.userNM).arg(m_opt.userID);
    QStringList ch;
    if (m_video->connected())
        ch << QStringLiteral("video");
    if (m_km->connected())
        ch << QStringLiteral("km");
    if (m_media->connected())
        ch << QStringLiteral("media");
    v.channels = ch.isEmpty() ? QStringLiteral("none") : ch.join(QLatin1Char(' '));
    return v;
}
