#include "bus/c_session_bus.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <unistd.h>

#include "bus/key_names.h"
#include "bus/picture_compare.h"
#include "log/log.h"
#include "session/c_km_channel.h"
#include "session/c_text_typer.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/c_view_mapper.h"
#include "tools/key_mouse/km_messages.h"

namespace {

const char* const E_NO_PRIVILEGE = "io.github.h264video.Error.NoWritePrivilege";
const char* const E_KEYBOARD_DOWN = "io.github.h264video.Error.KeyboardDown";
const char* const E_UNKNOWN_KEY = "io.github.h264video.Error.UnknownKey";
const char* const E_NOT_FOUND = "io.github.h264video.Error.NotFound";
const char* const E_NO_PICTURE = "io.github.h264video.Error.NoPicture";
const char* const E_TIMEOUT = "io.github.h264video.Error.Timeout";
const char* const E_BUSY = "io.github.h264video.Error.Busy";
const char* const E_INTERRUPTED = "io.github.h264video.Error.Interrupted";
const char* const E_INVALID = "io.github.h264video.Error.InvalidArgument";
const char* const E_FAILED = "io.github.h264video.Error.Failed";

}  // namespace

struct c_session_bus::wait
{
    QDBusMessage call;
    bool match = false;
    QElapsedTimer clock;
    qint64 timeout_ms = 0;
    // Stable: the picture last seen and since when it has not changed.
    qint64 stable_ms = 0;
    QImage last;
    QElapsedTimer unchanged;
    // Match.
    QImage reference;
    QRect region;
    double tolerance = 0.0;
    double best = -1.0;
};

c_session_bus::c_session_bus(c_session_hooks hooks, QObject* parent)
    : QObject(parent), m_hooks(std::move(hooks)), m_rel(std::make_unique<c_mouse_translator>())
{
    m_look_timer = new QTimer(this);
    m_look_timer->setInterval(LOOK_MS);
    connect(m_look_timer, &QTimer::timeout, this, &c_session_bus::look);
    m_status_timer = new QTimer(this);
    m_status_timer->setInterval(STATUS_MS);
    connect(m_status_timer, &QTimer::timeout, this, &c_session_bus::check_status);
}

c_session_bus::~c_session_bus()
{
    for (wait& w : m_waits)
        QDBusConnection::sessionBus().send(w.call.createErrorReply(E_FAILED, QStringLiteral("the viewer is closing")));
    m_waits.clear();
    if (m_published) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QString::fromLatin1(OBJECT_PATH));
        bus.unregisterService(m_service);
    }
}

bool c_session_bus::publish(QString* why)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *why = QStringLiteral("no session bus: ") + bus.lastError().message();
        return false;
    }
    m_service = QString::fromLatin1(SERVICE_PREFIX) + QString::number(::getpid());
    if (!bus.registerObject(QString::fromLatin1(OBJECT_PATH), this,
                            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals)) {
        *why = QStringLiteral("cannot register the object: ") + bus.lastError().message();
        return false;
    }
    if (!bus.registerService(m_service)) {
        bus.unregisterObject(QString::fromLatin1(OBJECT_PATH));
        *why = QStringLiteral("cannot take the name %1: %2").arg(m_service, bus.lastError().message());
        return false;
    }
    m_published = true;
    m_last_status = Status();
    m_status_timer->start();
    LOG_INFO("session bus: %s", m_service.toUtf8().constData());
    return true;
}

void c_session_bus::refuse(const char* error, const QString& why)
{
    if (calledFromDBus())
        sendErrorReply(QString::fromLatin1(error), why);
}

// ---------------------------------------------------------------- status

QVariantMap c_session_bus::Status()
{
    QVariantMap s = m_hooks.status ? m_hooks.status() : QVariantMap();
    const QSize size = m_hooks.picture_size ? m_hooks.picture_size() : QSize();
    s.insert(QStringLiteral("picture"), QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
    s.insert(QStringLiteral("keyboard"),
             QString::fromLatin1(channel_state_name(m_hooks.km ? m_hooks.km->state() : channel_state::lost)));
    s.insert(QStringLiteral("writePrivilege"), m_hooks.may_write && m_hooks.may_write());
    s.insert(QStringLiteral("absoluteMouse"), m_hooks.absolute_mouse && m_hooks.absolute_mouse());
    s.insert(QStringLiteral("remoteLayout"), m_hooks.remote_layout ? m_hooks.remote_layout() : QString());
    s.insert(QStringLiteral("typing"), m_hooks.typer && m_hooks.typer->busy());
    return s;
}

void c_session_bus::check_status()
{
    const QVariantMap now = Status();
    if (now == m_last_status)
        return;
    m_last_status = now;
    emit StatusChanged(now);
}

// ---------------------------------------------------------------- keyboard

bool c_session_bus::keyboard_ready()
{
    if (!m_hooks.km || m_hooks.km->state() != channel_state::connected) {
        refuse(E_KEYBOARD_DOWN, QStringLiteral("the keyboard channel is down"));
        return false;
    }
    if (!m_hooks.may_write || !m_hooks.may_write()) {
        refuse(E_NO_PRIVILEGE, QStringLiteral("no write privilege"));
        return false;
    }
    return true;
}

QVariantMap c_session_bus::TypeText(const QString& text)
{
    c_text_typer* typer = m_hooks.typer;
    if (!typer) {
        refuse(E_KEYBOARD_DOWN, QStringLiteral("the keyboard channel is down"));
        return {};
    }
    if (typer->busy()) {
        refuse(E_BUSY, QStringLiteral("another text is being typed"));
        return {};
    }
    if (!keyboard_ready())
        return {};
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QMetaObject::Connection done = connect(
        typer, &c_text_typer::finished, this,
        [call](const c_text_typer::result& r) {
            QDBusMessage reply;
            if (!r.complete) {
                reply = call.createErrorReply(QString::fromLatin1(E_INTERRUPTED), r.summary());
            } else {
                QVariantMap m;
                m.insert(QStringLiteral("typed"), r.typed);
                m.insert(QStringLiteral("total"), r.total);
                m.insert(QStringLiteral("skipped"), r.skipped);
                m.insert(QStringLiteral("skippedNames"), r.skipped_names);
                m.insert(QStringLiteral("summary"), r.summary());
                reply = call.createReply(QVariant(m));
            }
            QDBusConnection::sessionBus().send(reply);
        },
        Qt::SingleShotConnection);
    QString why;
    if (!typer->start(text, m_hooks.remote_layout ? m_hooks.remote_layout() : QStringLiteral("us"), &why)) {
        disconnect(done);
        QDBusConnection::sessionBus().send(call.createErrorReply(QString::fromLatin1(E_FAILED), why));
    }
    return {};
}

void c_session_bus::send_chord(const std::vector<int>& keys)
{
    unsigned char report[KM_KEYBOARD_LEN] = {};
    m_hooks.chord_report(keys, report);
    const unsigned char up[KM_KEYBOARD_LEN] = {};
    if (!m_hooks.km->send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, report) ||
        !m_hooks.km->send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, up))
        refuse(E_KEYBOARD_DOWN, QStringLiteral("the keyboard channel is down"));
}

void c_session_bus::PressKeys(const QString& chord)
{
    std::vector<int> keys;
    QString bad;
    if (!chord_keys(chord, keys, &bad)) {
        refuse(E_UNKNOWN_KEY, QStringLiteral("unknown key name \"%1\"").arg(bad));
        return;
    }
    // A name Qt knows but the keyboard report has no usage for is no key either.
    unsigned char report[KM_KEYBOARD_LEN] = {};
    for (int k : keys) {
        std::fill(report, report + KM_KEYBOARD_LEN, 0);
        m_hooks.chord_report({k}, report);
        if (std::all_of(report, report + KM_KEYBOARD_LEN, [](unsigned char b) { return b == 0; })) {
            refuse(E_UNKNOWN_KEY, QStringLiteral("no key for \"%1\" on the remote keyboard").arg(chord));
            return;
        }
    }
    if (!keyboard_ready())
        return;
    if (m_hooks.typer && m_hooks.typer->busy()) {
        refuse(E_BUSY, QStringLiteral("a text is being typed"));
        return;
    }
    send_chord(keys);
}

void c_session_bus::SendKeySequence(const QString& name)
{
    std::vector<int> keys;
    if (!m_hooks.key_sequence || !m_hooks.key_sequence(name, keys)) {
        refuse(E_NOT_FOUND, QStringLiteral("no key sequence named \"%1\"").arg(name));
        return;
    }
    if (!keyboard_ready())
        return;
    send_chord(keys);
}

// ---------------------------------------------------------------- pointer

bool c_session_bus::button_bit(const QString& name, int& bit)
{
    const QString n = name.trimmed().toLower();
    if (n.isEmpty() || n == QLatin1String("left") || n == QLatin1String("1"))
        bit = c_mouse_translator::BUTTON_LEFT;
    else if (n == QLatin1String("right") || n == QLatin1String("3"))
        bit = c_mouse_translator::BUTTON_RIGHT;
    else if (n == QLatin1String("middle") || n == QLatin1String("2"))
        bit = c_mouse_translator::BUTTON_MIDDLE;
    else {
        refuse(E_INVALID, QStringLiteral("unknown button \"%1\" (left, right, middle)").arg(name));
        return false;
    }
    const bool absolute = m_hooks.absolute_mouse && m_hooks.absolute_mouse();
    if (absolute && bit == c_mouse_translator::BUTTON_MIDDLE) {
        refuse(E_INVALID, QStringLiteral("the absolute pointer has no middle button"));
        return false;
    }
    return true;
}

void c_session_bus::send_pointer(int buttons_after, int kind, int button, int wheel)
{
    bool sent;
    if (m_hooks.absolute_mouse && m_hooks.absolute_mouse()) {
        const QSize size = m_hooks.picture_size ? m_hooks.picture_size() : QSize();
        if (size.width() <= 0 || size.height() <= 0) {
            refuse(E_NO_PICTURE, QStringLiteral("no picture yet: remote positions are not known"));
            return;
        }
        const int16_t X = int16_t(int64_t(m_abs_x) * c_view_mapper::ABS_GRID_WIDTH / size.width());
        const int16_t Y = int16_t(int64_t(m_abs_y) * c_view_mapper::ABS_GRID_HEIGHT / size.height());
        // The absolute report's buttons: 1 left, 2 right.
        int abs = 0;
        if (buttons_after & c_mouse_translator::BUTTON_LEFT)
            abs |= KM_ABS_LEFT;
        if (buttons_after & c_mouse_translator::BUTTON_RIGHT)
            abs |= KM_ABS_RIGHT;
        const auto payload = km_mouse_abs_payload(abs, X, Y, wheel);
        sent = m_hooks.km->send(CMD_KM_MOUSE_ABS, KM_MOUSE_ABS_LEN, payload.data());
    } else {
        unsigned char report[c_mouse_translator::REPORT_SIZE];
        int length = 0;
        m_rel->build(button, kind, 0, 0, wheel, report, length);
        sent = m_hooks.km->send(CMD_KM_MOUSE_REL, length, report);
    }
    m_abs_buttons = buttons_after;
    if (!sent)
        refuse(E_KEYBOARD_DOWN, QStringLiteral("the keyboard channel is down"));
}

void c_session_bus::PointerMove(int x, int y)
{
    if (!(m_hooks.absolute_mouse && m_hooks.absolute_mouse())) {
        refuse(E_INVALID, QStringLiteral("the pointer is in relative mode: the remote position is not known, so "
                                         "it cannot be put at a position"));
        return;
    }
    const QSize size = m_hooks.picture_size ? m_hooks.picture_size() : QSize();
    if (size.width() <= 0 || size.height() <= 0) {
        refuse(E_NO_PICTURE, QStringLiteral("no picture yet: remote positions are not known"));
        return;
    }
    if (x < 0 || y < 0 || x >= size.width() || y >= size.height()) {
        refuse(E_INVALID, QStringLiteral("%1,%2 lies outside the %3x%4 picture")
                              .arg(x)
                              .arg(y)
                              .arg(size.width())
                              .arg(size.height()));
        return;
    }
    if (!keyboard_ready())
        return;
    m_abs_x = x;
    m_abs_y = y;
    send_pointer(m_abs_buttons, c_mouse_translator::KIND_MOVE, 0, 0);
}

void c_session_bus::PointerPress(const QString& button)
{
    int bit = 0;
    if (!button_bit(button, bit) || !keyboard_ready())
        return;
    send_pointer(m_abs_buttons | bit, c_mouse_translator::KIND_PRESS, bit, 0);
}

void c_session_bus::PointerRelease(const QString& button)
{
    int bit = 0;
    if (!button_bit(button, bit) || !keyboard_ready())
        return;
    send_pointer(m_abs_buttons & ~bit, c_mouse_translator::KIND_RELEASE, bit, 0);
}

void c_session_bus::PointerClick(const QString& button)
{
    int bit = 0;
    if (!button_bit(button, bit) || !keyboard_ready())
        return;
    send_pointer(m_abs_buttons | bit, c_mouse_translator::KIND_PRESS, bit, 0);
    send_pointer(m_abs_buttons & ~bit, c_mouse_translator::KIND_RELEASE, bit, 0);
}

void c_session_bus::PointerWheel(int steps)
{
    if (!keyboard_ready())
        return;
    // One report per step, as a wheel sends them.
    const int one = steps > 0 ? 1 : -1;
    for (int i = 0; i < std::abs(steps) && i < 100; ++i)
        send_pointer(m_abs_buttons, c_mouse_translator::KIND_MOVE, 0, one);
}

// ---------------------------------------------------------------- picture

QByteArray c_session_bus::Screenshot()
{
    const QImage picture = m_hooks.picture ? m_hooks.picture() : QImage();
    if (picture.isNull()) {
        refuse(E_NO_PICTURE, QStringLiteral("no picture yet"));
        return {};
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Fast compression: a script waits for it, and the file is seldom kept long.
    picture.save(&buffer, "PNG", 80);
    return png;
}

void c_session_bus::WaitStable(uint stableMs, uint timeoutMs)
{
    wait w;
    w.call = message();
    w.stable_ms = stableMs;
    w.timeout_ms = timeoutMs;
    w.clock.start();
    setDelayedReply(true);
    m_waits.push_back(std::move(w));
    look();
    if (!m_waits.empty())
        m_look_timer->start();
}

double c_session_bus::WaitMatch(const QByteArray& referencePng, int x, int y, int w_, int h, double tolerance,
                                uint timeoutMs)
{
    QImage ref;
    if (!ref.loadFromData(referencePng, "PNG")) {
        refuse(E_INVALID, QStringLiteral("the reference is no PNG picture"));
        return -1.0;
    }
    wait w;
    w.match = true;
    w.reference = ref.convertToFormat(QImage::Format_RGB32);
    w.region = w_ <= 0 ? QRect(QPoint(0, 0), ref.size()) : QRect(x, y, w_, h);
    if (w.region.size() != ref.size()) {
        refuse(E_INVALID, QStringLiteral("the region is %1x%2, the reference %3x%4")
                              .arg(w.region.width())
                              .arg(w.region.height())
                              .arg(ref.width())
                              .arg(ref.height()));
        return -1.0;
    }
    w.tolerance = tolerance;
    w.timeout_ms = timeoutMs;
    w.call = message();
    w.clock.start();
    setDelayedReply(true);
    m_waits.push_back(std::move(w));
    look();
    if (!m_waits.empty())
        m_look_timer->start();
    return 0.0;
}

void c_session_bus::finish_wait(std::list<wait>::iterator it, const QDBusMessage& reply)
{
    QDBusConnection::sessionBus().send(reply);
    m_waits.erase(it);
}

void c_session_bus::look()
{
    if (m_waits.empty()) {
        m_look_timer->stop();
        return;
    }
    const QImage picture = m_hooks.picture ? m_hooks.picture() : QImage();
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        auto next = std::next(it);
        wait& w = *it;
        if (!w.match) {
            if (!picture.isNull() && (w.last.isNull() || picture != w.last)) {
                w.last = picture;
                w.unchanged.start();
            }
            if (w.unchanged.isValid() && w.unchanged.elapsed() >= w.stable_ms) {
                finish_wait(it, w.call.createReply());
            } else if (w.clock.elapsed() >= w.timeout_ms) {
                finish_wait(it, w.call.createErrorReply(
                                    QString::fromLatin1(E_TIMEOUT),
                                    QStringLiteral("the picture did not stay unchanged for %1 ms within %2 ms")
                                        .arg(w.stable_ms)
                                        .arg(w.timeout_ms)));
            }
        } else {
            const double d = picture_difference(picture, w.region, w.reference);
            if (d >= 0.0 && (w.best < 0.0 || d < w.best))
                w.best = d;
            if (d >= 0.0 && d <= w.tolerance) {
                finish_wait(it, w.call.createReply(QVariant(d)));
            } else if (w.clock.elapsed() >= w.timeout_ms) {
                const QString best = w.best < 0.0 ? QStringLiteral("the region was never on the picture")
                                                  : QStringLiteral("the closest was %1").arg(w.best, 0, 'f', 1);
                finish_wait(it, w.call.createErrorReply(
                                    QString::fromLatin1(E_TIMEOUT),
                                    QStringLiteral("no match within %1 ms (tolerance %2; %3)")
                                        .arg(w.timeout_ms)
                                        .arg(w.tolerance)
                                        .arg(best)));
            }
        }
        it = next;
    }
    if (m_waits.empty())
        m_look_timer->stop();
}

// ---------------------------------------------------------------- media, recording

void c_session_bus::MapImage(const QString& path, bool readOnly)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        refuse(E_NOT_FOUND, QStringLiteral("image not found: %1").arg(path));
        return;
    }
    QString why;
    if (!m_hooks.map || !m_hooks.map(info.absoluteFilePath(), readOnly, &why))
        refuse(E_FAILED, why.isEmpty() ? QStringLiteral("the image was not mapped") : why);
}

void c_session_bus::Unmap()
{
    if (m_hooks.unmap)
        m_hooks.unmap();
}

int c_session_bus::MapProgress()
{
    return Status().value(QStringLiteral("mapProgress")).toInt();
}

void c_session_bus::RecordStart()
{
    QString why;
    if (!m_hooks.record_start || !m_hooks.record_start(&why))
        refuse(E_FAILED, why.isEmpty() ? QStringLiteral("recording did not start") : why);
}

void c_session_bus::RecordStop()
{
    if (m_hooks.record_stop)
        m_hooks.record_stop();
}
