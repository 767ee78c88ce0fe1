#include "c_devsim_video.h"

#include <QImage>
#include <QJsonObject>

#include <chrono>

#include "c_devsim.h"
#include "c_devsim_frames.h"
#include "encoder/c_h264_encoder.h"
#include "tools/socket/c_frame.h"

namespace {
const char* k_direction[] = {"reset", "up", "down", "left", "right"};
// The viewer joins the fragments of one picture in a buffer of this size.
constexpr unsigned k_viewer_unit_max = 524288;
}

c_devsim_video::c_devsim_video(c_devsim& dev) : c_devsim_channel(dev, "video") {}

c_devsim_video::~c_devsim_video()
{
    stop();
    on_disconnect();
}

void c_devsim_video::set_au_observer(au_observer fn)
{
    std::lock_guard<std::mutex> lk(m_observerLock);
    m_observer = std::move(fn);
}

bool c_devsim_video::send_leds(uint8_t bits)
{
    return send(c_devsim_frames::clear({4, bits}));
}

void c_devsim_video::on_connect()
{
    m_streamStop = false;
    m_streamer = std::thread([this] { stream(); });
}

void c_devsim_video::on_disconnect()
{
    {
        std::lock_guard<std::mutex> lk(m_waitLock);
        m_streamStop = true;
    }
    m_wait.notify_all();
    if (m_streamer.joinable())
        m_streamer.join();
}

bool c_devsim_video::on_frame(const uint8_t* header, uint8_t* body, uint32_t len)
{
    if (frame_plain_len(header) != len) {
        protocol_error("video message with differing plain and wire lengths (the viewer sends them in clear)");
        return false;
    }
    const c_devsim_options& o = m_dev.options();
    QJsonObject f;
    const uint8_t type = body[0];
    if (type == 50 && len >= 5) {
        const uint32_t id = read_be32(body + 1);
        const bool ok = id == o.userID && !o.refuseLogin;
        f.insert(QStringLiteral("name"), QStringLiteral("userid"));
        f.insert(QStringLiteral("userID"), qint64(id));
        f.insert(QStringLiteral("accepted"), ok);
        m_dev.events().message(name(), body, len, f);
        m_dev.log("video: user identification %u %s", id, ok ? "accepted" : "refused (unknown user)");
        send(c_devsim_frames::clear({50, uint8_t(ok ? 0 : 1)}));
        return true;
    }
    if ((type == 31 && len >= 2) || (type == 32 && len >= 4)) {
        const uint8_t target = body[1];
        const int dir = type == 31 ? 0 : body[2];
        const bool known = dir >= 0 && dir <= 4;
        const bool ok = target == uint8_t(o.dogID) && known;
        f.insert(QStringLiteral("name"), type == 31 ? QStringLiteral("reset") : QStringLiteral("position"));
        f.insert(QStringLiteral("target"), int(target));
        if (type == 32) {
            f.insert(QStringLiteral("direction"), known ? QString::fromLatin1(k_direction[dir]) : QString::number(dir));
            f.insert(QStringLiteral("step"), int(body[3]));
        }
        f.insert(QStringLiteral("accepted"), ok);
        m_dev.events().message(name(), body, len, f);
        m_dev.log("video: picture %s for adapter %u%s", known ? k_direction[dir] : "?", target,
                  ok ? "" : " refused");
        const uint8_t result = ok ? 0 : 1;
        if (ok)
            m_dev.move_picture(dir);
        if (type == 31) {
            // A reset is a whole setting session: begin, then end.
            send(c_devsim_frames::clear({30, target, result}));
            send(c_devsim_frames::clear({31, target, result}));
        } else {
            send(c_devsim_frames::clear({32, target, result}));
        }
        return true;
    }
    f.insert(QStringLiteral("name"), QStringLiteral("unknown"));
    m_dev.events().message(name(), body, len, f);
    m_dev.log("video: ignored message type %u, %u bytes", type, len);
    return true;
}

bool c_devsim_video::send_access_unit(const std::vector<uint8_t>& au, uint32_t picture)
{
    const int frag = m_dev.options().fragmentSize;
    const uint8_t* key = m_dev.options().videoCipher ? m_dev.options().desEncode.data() : nullptr;
    size_t pos = 0;
    uint16_t index = 0;
    do {
        const size_t n = std::min(au.size() - pos, size_t(frag));
        const bool last = pos + n >= au.size();
        if (!send(c_devsim_frames::video(last ? 1 : 0, picture, index++, au.data() + pos, uint32_t(n), key)))
            return false;
        pos += n;
    } while (pos < au.size());
    return true;
}

void c_devsim_video::stream()
{
    c_devsim_screen& screen = m_dev.screen();
    c_h264_encoder enc;
    const int fps = m_dev.options().fps;
    c_h264_encoder::options eo;
    eo.crf = m_dev.options().crf;
    eo.bitrate_kbps = m_dev.options().bitrateKbps;
    if (!enc.open(screen.width(), screen.height(), fps, eo)) {
        m_dev.log("video: the H.264 encoder does not open; no picture is sent");
        m_dev.events().note(name(), "error", {{QStringLiteral("error"), QStringLiteral("encoder does not open")}});
        return;
    }
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / fps);
    auto next = clock::now();
    QImage img;
    uint64_t frame = 0;
    bool warned = false;
    while (!m_streamStop) {
        if (!screen.grab(img, m_dev.view(frame)))
            m_dev.log("video: the picture source gave no picture");
        bool sent = true;
        for (const auto& au : enc.encode(img)) {
            if (au.empty())
                continue;
            if (au.size() > k_viewer_unit_max && !warned) {
                warned = true;
                m_dev.log("video: a picture of %zu bytes is larger than the viewer's %u-byte buffer and will be "
                          "dropped there; lower the quality (--crf, --bitrate) or the size",
                          au.size(), k_viewer_unit_max);
            }
            {
                std::lock_guard<std::mutex> lk(m_observerLock);
                if (m_observer)
                    m_observer(au);
            }
            sent = sent && send_access_unit(au, uint32_t(frame));
            ++m_pictures;
        }
        if (!sent)
            break;  // the connection is gone; the channel thread notices too
        ++frame;
        const int limit = m_dev.options().pictureLimit;
        if (limit > 0 && frame >= uint64_t(limit)) {
            // A still screen: nothing more on this connection until it ends.
            std::unique_lock<std::mutex> lk(m_waitLock);
            m_wait.wait(lk, [this] { return m_streamStop.load(); });
            break;
        }
        next += period;
        const auto now = clock::now();
        if (next < now - period * 2)
            next = now;  // fell behind (slow viewer): do not burst to catch up
        std::unique_lock<std::mutex> lk(m_waitLock);
        m_wait.wait_until(lk, next, [this] { return m_streamStop.load(); });
    }
}
