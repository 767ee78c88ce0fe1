#pragma once
// A real main window (in process, offscreen unless a display is set) connected
// on loopback to an in-process test device: the window's KM messages travel
// the whole way (queue, media send thread, KM socket, device), and the test
// reads what the device received. Loopback only.
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "c_devsim.h"
#include "common/h264video_session.h"

// One KM message as the device received it.
struct devsim_km_message
{
    std::vector<uint8_t> body;  // type byte first, deciphered
    QJsonObject fields;         // the device's decoding
    uint8_t type() const { return body.empty() ? 0 : body[0]; }
};

class devsim_window
{
public:
    using tweak_fn = std::function<void(c_devsim_options&)>;

    // connectMedia false: the window's media channel points at a loopback
    // port nobody listens on (its error box is closed at once).
    explicit devsim_window(uint32_t mouseMode, const tweak_fn& tweak = tweak_fn(), bool connectMedia = true)
    {
        test_application();
        c_devsim_options o;
        o.portVideo = o.portKM = o.portMedia = o.portControl = 0;
        o.controlPort = false;
        o.readStdin = false;
        o.mouseMode = mouseMode;
        o.width = 320;
        o.height = 240;
        o.fps = 10;
        o.userID = 42;
        o.eventsFile.clear();
        o.eventsHexMax = 0;
        o.mediaOut = m_dir.filePath(QStringLiteral("media.img"));
        if (tweak)
            tweak(o);
        dev = std::make_unique<c_devsim>(o);
        dev->events().set_observer([this](const QJsonObject& e) { record(e); });
        QString error;
        started = dev->start(&error);
        if (!started)
            return;

        std::memset(&g_para, 0, sizeof g_para);
        std::strcpy(g_para.ip, "127.0.0.1");
        std::strcpy(g_para.userNM, "tester");
        g_para.portKM = dev->port_km();
        g_para.portV = dev->port_video();
        g_para.portMedia = connectMedia ? dev->port_media() : unused_loopback_port();
        g_para.mouseMode = mouseMode;
        g_para.userID = o.userID;
        g_para.desEncode.len = 8;
        g_para.desDecode.len = 8;
        std::memcpy(g_para.desEncode.key, o.desEncode.data(), 8);
        std::memcpy(g_para.desDecode.key, o.desDecode.data(), 8);
        H264Video::setKmTakeover(true);
        message_box_closer closer;
        window.reset(new H264Video());
    }

    ~devsim_window()
    {
        window.reset();
        if (dev)
            dev->stop();
    }

    devsim_window(const devsim_window&) = delete;
    devsim_window& operator=(const devsim_window&) = delete;

    // Every KM message the device received so far, oldest first.
    std::vector<devsim_km_message> km() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_km;
    }
    size_t km_count() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_km.size();
    }
    // Messages received after the first `from` ones, of one type (0: all).
    std::vector<devsim_km_message> km_since(size_t from, uint8_t type = 0) const
    {
        std::vector<devsim_km_message> out;
        std::lock_guard<std::mutex> g(m_lock);
        for (size_t i = from; i < m_km.size(); ++i)
            if (type == 0 || m_km[i].type() == type)
                out.push_back(m_km[i]);
        return out;
    }
    // Pumps the GUI thread until the device has received a message after
    // `from` whose body is `body`; its index, or -1 on time-out.
    long wait_km_body(size_t from, const std::vector<uint8_t>& body, int timeout_ms = 5000) const
    {
        long at = -1;
        pump_until(
            [&] {
                std::lock_guard<std::mutex> g(m_lock);
                for (size_t i = from; i < m_km.size(); ++i)
                    if (m_km[i].body == body) {
                        at = long(i);
                        return true;
                    }
                return false;
            },
            timeout_ms);
        return at;
    }
    // Pumps until devsim has a viewer on the channel ("video", "km", "media"):
    // a connection the system completed may not have been accepted yet.
    bool wait_channel(const char* name, int timeout_ms = 5000) const
    {
        const QString up = QStringLiteral("\"%1\":true").arg(QLatin1String(name));
        return pump_until([&] { return dev->command(QStringLiteral("status")).contains(up); }, timeout_ms);
    }
    // Pumps until at least n messages of that type arrived after `from`.
    bool wait_km_count(size_t from, uint8_t type, size_t n, int timeout_ms = 5000) const
    {
        return pump_until([&] { return km_since(from, type).size() >= n; }, timeout_ms);
    }

    // A keyboard message body: type 3 and the eight report bytes.
    static std::vector<uint8_t> keyboard(std::initializer_list<uint8_t> report)
    {
        std::vector<uint8_t> b(9, 0);
        b[0] = 3;
        size_t i = 1;
        for (uint8_t v : report)
            if (i < b.size())
                b[i++] = v;
        return b;
    }

    std::unique_ptr<c_devsim> dev;
    std::unique_ptr<H264Video> window;
    bool started = false;

private:
    void record(const QJsonObject& e)
    {
        if (e.value(QStringLiteral("channel")).toString() != QLatin1String("km") ||
            e.value(QStringLiteral("event")).toString() != QLatin1String("recv"))
            return;
        devsim_km_message m;
        const QByteArray bytes = QByteArray::fromHex(e.value(QStringLiteral("hex")).toString().toLatin1());
        m.body.assign(bytes.begin(), bytes.end());
        m.fields = e.value(QStringLiteral("fields")).toObject();
        std::lock_guard<std::mutex> g(m_lock);
        m_km.push_back(std::move(m));
    }

    QTemporaryDir m_dir;
    mutable std::mutex m_lock;
    std::vector<devsim_km_message> m_km;
};
