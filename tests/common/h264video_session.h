#pragma once
// An in-process main window connected to a loopback device: two listening
// peers stand for the device's KM and video ports, the window connects to
// them in its constructor, the peers accept. Frames the window sends are read
// with the project's frame reader; frames for the window are built with the
// test device's frame builders. Loopback only.
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <QThread>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "c_devsim_frames.h"
#include "encoder/c_h264_encoder.h"
#include "common/h264video_peer.h"
#include "common/unused_port.h"
#include "socket/loopback_peer.h"
#include "tools/socket/c_frame_reader.h"

// Runs the GUI thread's events until cond holds or timeout_ms passes.
inline bool pump_until(const std::function<bool()>& cond, int timeout_ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Runs the GUI thread's events for ms milliseconds.
inline void pump_for(int ms)
{
    pump_until([] { return false; }, ms);
}

// Shows the window with a display area of width x height beside the tool bar
// and lets the resize settle.
inline void show_with_area(H264Video& w, int width, int height)
{
    w.show();
    w.resize(w.ui.toolBar->width() + width, height);
    pump_for(50);
}

// Closes every message box that opens while it lives (also inside a modal
// loop of a constructor) and remembers their texts.
class message_box_closer
{
public:
    message_box_closer()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible()) {
                    texts.push_back(box->text().toStdString());
                    box->done(QMessageBox::Ok);
                }
            }
        });
        m_timer.start();
    }

    std::vector<std::string> texts;

private:
    QTimer m_timer;
};

// Byte source over the device end of a loopback connection.
class peer_byte_source : public c_byte_source
{
public:
    peer_byte_source(LoopbackPeer& peer, int timeout_ms) : m_peer(peer), m_timeout(timeout_ms) {}
    int recv(uint8_t* buf, int len) override
    {
        const std::vector<uint8_t> got = m_peer.recv_bytes(size_t(len), m_timeout);
        if (got.empty())
            return 0;
        std::memcpy(buf, got.data(), got.size());
        return int(got.size());
    }
    bool should_stop() override { return false; }

private:
    LoopbackPeer& m_peer;
    int m_timeout;
};

// Encodes pictures and cuts each access unit into type-6 messages of at most
// `fragment` payload bytes (last one flagged 1), enciphered like the device
// does when key8 is given.
class video_message_source
{
public:
    video_message_source(int width, int height, int fps = 30) { ok = encoder.open(width, height, fps); }

    std::vector<std::vector<uint8_t> > messages_for(const QImage& picture, uint32_t fragment,
                                                    const uint8_t* key8 = nullptr)
    {
        std::vector<std::vector<uint8_t> > out;
        for (const auto& unit : encoder.encode(picture)) {
            uint16_t index = 0;
            for (size_t pos = 0; pos < unit.size(); pos += fragment, ++index) {
                const uint32_t len = uint32_t(std::min<size_t>(fragment, unit.size() - pos));
                const uint8_t flag = pos + len >= unit.size() ? 1 : 0;
                out.push_back(c_devsim_frames::video(flag, picture_number, index, unit.data() + pos, len, key8));
            }
            ++picture_number;
        }
        return out;
    }

    c_h264_encoder encoder;
    bool ok = false;
    uint32_t picture_number = 0;
};

// The media channel is left unconnected: its failure box is closed at once
// and its send thread, which would flush the KM list, ends with the unconnected
// socket. The window's own takeover of the KM list is turned off, so KM tests
// flush by calling sync() themselves. Boxes shown while
// the window is built are listed in construction_boxes.
class H264VideoSession
{
public:
    explicit H264VideoSession(uint32_t mouseMode = 0, uint32_t userID = 42)
    {
        test_application();
        message_box_closer closer;
        std::memset(&g_para, 0, sizeof g_para);
        std::strcpy(g_para.ip, "127.0.0.1");
        std::strcpy(g_para.userNM, "tester");
        g_para.portKM = km.port();
        g_para.portV = video.port();
        g_para.portMedia = unused_loopback_port();
        g_para.mouseMode = mouseMode;
        g_para.userID = userID;
        std::mt19937 rng(std::random_device{}());
        g_para.desEncode.len = 8;
        g_para.desDecode.len = 8;
        for (int i = 0; i < 8; ++i) {
            g_para.desEncode.key[i] = uint8_t(rng());
            g_para.desDecode.key[i] = uint8_t(rng());
        }
        // The KM tests flush by calling sync() themselves.
        H264Video::setKmTakeover(false);
        window.reset(new H264Video());
        km_connected = km.accept_client();
        video_connected = video.accept_client();
    }

    ~H264VideoSession() { window.reset(); }

    H264VideoSession(const H264VideoSession&) = delete;
    H264VideoSession& operator=(const H264VideoSession&) = delete;

    // The next frame the window sent on a channel: its body (as sent) and header.
    static bool read_frame(LoopbackPeer& peer, std::vector<uint8_t>& body, std::vector<uint8_t>* header = nullptr,
                           int timeout_ms = 3000)
    {
        peer_byte_source src(peer, timeout_ms);
        c_frame_reader reader;
        if (reader.read_frame(src) != frame_read_result::frame)
            return false;
        body.assign(reader.body(), reader.body() + reader.body_length());
        if (header)
            header->assign(reader.header(), reader.header() + FRAME_HEADER_LEN);
        return true;
    }

    // The whole frame as the window sent it (header and body), for KM frames
    // that km_plain_body() reads.
    static bool read_whole_frame(LoopbackPeer& peer, std::vector<uint8_t>& frame, int timeout_ms = 3000)
    {
        std::vector<uint8_t> body, header;
        if (!read_frame(peer, body, &header, timeout_ms))
            return false;
        frame = header;
        frame.insert(frame.end(), body.begin(), body.end());
        return true;
    }

    // A KM message from the device, enciphered as the device does.
    std::vector<uint8_t> km_from_device(std::initializer_list<uint8_t> body) const
    {
        std::vector<uint8_t> b(body);
        return c_devsim_frames::km_enciphered(b.data(), uint32_t(b.size()), g_para.desEncode.key);
    }

    LoopbackPeer km;
    LoopbackPeer video;
    std::unique_ptr<H264Video> window;
    bool km_connected = false;
    bool video_connected = false;
};
